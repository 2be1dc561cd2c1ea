#include "accessiblenames.h"

#include "ui_imageinfodialog.h"
#include "ui_imageitem.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>

namespace accessiblenames {

void describe(Ui::MainWindow *form)
{
    form->curVerTSLabel->setBuddy(form->curVerTSLineEdit);
    form->curVerSWLabel->setBuddy(form->curVerSWLineEdit);
    form->curPIDverLabel->setBuddy(form->curPIDverLineEdit);
    form->label_4->setBuddy(form->filenameLineEdit);
    form->operationProgressLabel->setBuddy(form->currentProgressBar);
    form->totalProgressLabel->setBuddy(form->totalProgressBar);
    form->label_5->setBuddy(form->timeElapsed);
    form->label_7->setBuddy(form->timeRemain);

    form->fileDialogButton->setAccessibleName(QCoreApplication::translate("MainWindow", "Browse"));
    form->fileDialogButton->setAccessibleDescription(
        QCoreApplication::translate("MainWindow", "Choose the ZARN update image file"));
    // The line's name is its text, which the label announces on every change
    // as long as no fixed name hides it.
    form->statusLabel->setAccessibleDescription(QCoreApplication::translate("MainWindow", "Update status"));
}

void describe(Ui::ImageInfoDialog *form)
{
    form->filenameLabel->setBuddy(form->filenameLineEdit);
    form->listWidget->setAccessibleName(QCoreApplication::translate("ImageInfoDialog", "Images"));
}

void describe(Ui::ImageItem *form)
{
    form->versionLabel->setBuddy(form->versionLineEdit);
    form->minWHLabel->setBuddy(form->minHWlineEdit);
    form->flashAddressLabel->setBuddy(form->addresLineEdit);
    form->sizeLabel->setBuddy(form->sizeLineEdit);
}

QString imageRow(const QStringList &texts)
{
    // The row form's own labels, in its context, so that one translation serves both.
    const char *const labels[] = {
        QT_TRANSLATE_NOOP("ImageItem", "Version:"), QT_TRANSLATE_NOOP("ImageItem", "Min HW:"),
        QT_TRANSLATE_NOOP("ImageItem", "Address:"), QT_TRANSLATE_NOOP("ImageItem", "Size:")};
    QString line = texts.value(0);
    for (int i = 0; i < 4; ++i)
        line += QStringLiteral(", %1 %2").arg(QCoreApplication::translate("ImageItem", labels[i]),
                                              texts.value(i + 1));
    return line;
}

} // namespace accessiblenames
