#pragma once

#include <functional>
#include <memory>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QTimer;
class QWidget;

namespace testsupport {

struct LogLine
{
    QtMsgType type;
    QString category;
    QString file;
    int line;
    QString function;
    QString message;
};

// Captures every message of the Qt message channels, from any thread, for as
// long as it lives. Only one may live at a time.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    QList<LogLine> lines() const;
    QStringList messages() const; // the message texts alone, in order
    int count(const QString &message) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex mutex;
    QList<LogLine> captured;
    QtMessageHandler previous;
};

// What a modal answerer saw of the modal widget it answered.
struct ModalSeen
{
    bool seen = false;
    QString className;
    QString title;
    // A message box's text, QMessageBox::Icon and QMessageBox::StandardButtons.
    QString text;
    int icon = 0;
    int buttons = 0;
    int buttonCount = 0;
    bool hasDefaultButton = false;
    bool hadParent = false;
};

// Polls for the next application-modal widget and hands it to action (which
// must close it). Gives up after timeoutMs without a modal widget; the result
// then says seen == false.
std::shared_ptr<ModalSeen> answerNextModal(std::function<void(QWidget *)> action, int timeoutMs = 10000);

// Answers every modal widget with acceptModal for as long as it lives and
// keeps what it saw, so that a second box is counted instead of blocking.
class ModalWatcher
{
public:
    ModalWatcher();
    ~ModalWatcher();
    ModalWatcher(const ModalWatcher &) = delete;
    ModalWatcher &operator=(const ModalWatcher &) = delete;

    QList<ModalSeen> seen;

private:
    QTimer *timer;
};

// Actions for answerNextModal.
void acceptModal(QWidget *modal); // OK / accept()
void rejectModal(QWidget *modal); // Cancel / reject()

// Spins the event loop until predicate holds or timeoutMs passes.
bool waitFor(const std::function<bool()> &predicate, int timeoutMs = 10000);

} // namespace testsupport
