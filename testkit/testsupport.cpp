#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace testsupport {

namespace {
MessageLog *activeLog = nullptr;
}

MessageLog::MessageLog()
{
    Q_ASSERT(!activeLog);
    activeLog = this;
    previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context,
                                         const QString &message) {
        QMutexLocker lock(&activeLog->mutex);
        activeLog->texts << message;
        activeLog->origins << QString::fromUtf8(context.function) + " in " + QString::fromUtf8(context.file);
    });
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(previous);
    activeLog = nullptr;
}

QStringList MessageLog::messages() const
{
    QMutexLocker lock(&mutex);
    return texts;
}

QStringList MessageLog::sources() const
{
    QMutexLocker lock(&mutex);
    return origins;
}

void acceptModal(QWidget *modal)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    auto *buttons = modal->findChild<QDialogButtonBox *>();
    // A test that came to update says Later to an offer to recover an earlier update.
    if (box && box->windowTitle() == QLatin1String("Update cut short") && box->escapeButton())
        box->escapeButton()->click();
    else if (box && !box->buttons().isEmpty())
        box->buttons().first()->click();
    else if (buttons && buttons->button(QDialogButtonBox::Ok))
        buttons->button(QDialogButtonBox::Ok)->click();
    else if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->accept();
}

void rejectModal(QWidget *modal)
{
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
}

ModalWatcher::ModalWatcher(std::function<void(QWidget *)> action) : timer(new QTimer)
{
    QObject::connect(timer, &QTimer::timeout, [this, action] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        QString shown = QString::fromLatin1(modal->metaObject()->className()) + '|' + modal->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            shown += QString::asprintf("|%s|%d|0x%x|%d|%d|%d", qPrintable(box->text()), int(box->icon()),
                                       unsigned(box->standardButtons()), int(box->buttons().size()),
                                       box->defaultButton() != nullptr, box->parentWidget() != nullptr);
        seen.append(shown);
        action(modal);
    });
    timer->start(10);
}

ModalWatcher::~ModalWatcher()
{
    delete timer;
}

bool waitFor(const std::function<bool()> &predicate, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace testsupport
