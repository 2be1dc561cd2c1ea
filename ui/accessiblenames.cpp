#include "accessiblenames.h"

#include "ui_imageinfodialog.h"
#include "ui_imageitem.h"
#include "ui_mainwindow.h"

#include <QAccessibleWidget>
#include <QCoreApplication>

namespace {

const char captionedTime[] = "zarnCaptionedTime";

// A time label, read with its caption ("Time elapsed: 00:00:23"): the caption
// is its accessible name, the time it shows is added when it is asked. Having
// a name, the label no longer announces each new time, several a second during
// a run: a screen reader reads it when the operator asks, as it reads the bars.
class CaptionedTime final : public QAccessibleWidget
{
public:
    explicit CaptionedTime(QLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        const QString text = QAccessibleWidget::text(t);
        const QString time = static_cast<QLabel *>(widget())->text();
        return t == QAccessible::Name && !time.isEmpty() ? text + QLatin1Char(' ') + time : text;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }
};

QAccessibleInterface *captionedTimes(const QString &className, QObject *object)
{
    auto *const label = qobject_cast<QLabel *>(object);
    return className == QLatin1String("QLabel") && label && label->property(captionedTime).toBool()
               ? new CaptionedTime(label)
               : nullptr;
}

// A field the operator only reads: disabled, as the form has it, a screen
// reader calls it greyed out and Tab passes it by.
void readOnly(QLineEdit *field)
{
    field->setEnabled(true);
    field->setReadOnly(true);
}

} // namespace

namespace accessiblenames {

void describe(Ui::MainWindow *form)
{
    readOnly(form->curVerTSLineEdit);
    readOnly(form->curVerSWLineEdit);
    readOnly(form->curPIDverLineEdit);
    // They come first in the Tab order now; the window still opens in the
    // file name, where the operator starts.
    form->filenameLineEdit->setFocus();
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
    // The field's placeholder, which would be its description, names the button by its "...".
    form->filenameLineEdit->setAccessibleDescription(
        QCoreApplication::translate("MainWindow", "Enter image file name or search for it with Browse"));
    form->label->setAccessibleName(QCoreApplication::translate("MainWindow", "Velmora ZARN"));
    // The line's name is the run's stage, which RunAnnouncer tells.
    form->statusLabel->setAccessibleDescription(QCoreApplication::translate("MainWindow", "Update status"));

    QAccessible::installFactory(captionedTimes);
    for (QLabel *caption : {form->label_5, form->label_7}) {
        caption->buddy()->setProperty(captionedTime, true);
        caption->buddy()->setAccessibleName(caption->text().trimmed());
    }
}

void describe(Ui::ImageInfoDialog *form)
{
    form->filenameLabel->setBuddy(form->filenameLineEdit);
    readOnly(form->filenameLineEdit);
    form->listWidget->setAccessibleName(QCoreApplication::translate("ImageInfoDialog", "Images"));
}

void describe(Ui::ImageItem *form)
{
    form->versionLabel->setBuddy(form->versionLineEdit);
    form->minWHLabel->setBuddy(form->minHWlineEdit);
    form->flashAddressLabel->setBuddy(form->addresLineEdit);
    form->sizeLabel->setBuddy(form->sizeLineEdit);
}

void timesSettled(Ui::MainWindow *form)
{
    for (QLabel *time : {form->timeElapsed, form->timeRemain}) {
        QAccessibleEvent event(time, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
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
