#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
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
    previous = qInstallMessageHandler(&MessageLog::handler);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(previous);
    activeLog = nullptr;
}

void MessageLog::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    MessageLog *log = activeLog;
    if (!log)
        return;
    QMutexLocker lock(&log->mutex);
    log->captured.append(LogLine{type, QString::fromUtf8(context.category), QString::fromUtf8(context.file),
                                 context.line, QString::fromUtf8(context.function), message});
}

QList<LogLine> MessageLog::lines() const
{
    QMutexLocker lock(&mutex);
    return captured;
}

QStringList MessageLog::messages() const
{
    QStringList texts;
    for (const LogLine &line : lines())
        texts.append(line.message);
    return texts;
}

int MessageLog::count(const QString &message) const
{
    return int(messages().count(message));
}

void MessageLog::clear()
{
    QMutexLocker lock(&mutex);
    captured.clear();
}

namespace {

ModalSeen inspect(QWidget *modal)
{
    ModalSeen seen;
    seen.seen = true;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    seen.hadParent = modal->parentWidget() != nullptr;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        seen.text = box->text();
        seen.icon = int(box->icon());
        seen.buttons = int(box->standardButtons());
        seen.buttonCount = int(box->buttons().size());
        seen.hasDefaultButton = box->defaultButton() != nullptr;
    }
    return seen;
}

} // namespace

ModalWatcher::ModalWatcher() : timer(new QTimer)
{
    QObject::connect(timer, &QTimer::timeout, [this] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            seen.append(inspect(modal));
            acceptModal(modal);
        }
    });
    timer->start(10);
}

ModalWatcher::~ModalWatcher()
{
    delete timer;
}

std::shared_ptr<ModalSeen> answerNextModal(std::function<void(QWidget *)> action, int timeoutMs)
{
    auto seen = std::make_shared<ModalSeen>();
    auto *timer = new QTimer(qApp);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, seen, action, deadline] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            if (deadline.hasExpired())
                timer->deleteLater();
            return;
        }
        timer->stop();
        timer->deleteLater();
        *seen = inspect(modal);
        action(modal);
    });
    timer->start(10);
    return seen;
}

void acceptModal(QWidget *modal)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        const QList<QAbstractButton *> buttons = box->buttons();
        if (!buttons.isEmpty())
            buttons.first()->click();
        return;
    }
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->accept();
}

void rejectModal(QWidget *modal)
{
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
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
