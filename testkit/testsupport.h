#pragma once

#include <functional>
#include <QMutex>
#include <QStringList>

class QTimer;
class QWidget;

namespace testsupport {

// Captures every message of the Qt message channels, from any thread, for as
// long as it lives: its text and where it came from. One at a time.
class MessageLog
{
public:
    MessageLog();
    ~MessageLog();

    QStringList messages() const; // the texts, in order
    QStringList sources() const;  // "<function> in <file>" of each, in the same order
    int count(const QString &message) const { return int(messages().count(message)); }

private:
    mutable QMutex mutex;
    QStringList texts;
    QStringList origins;
    QtMessageHandler previous;
};

// The first button of a box (Later of the offer to recover), OK of a dialog's button box.
void acceptModal(QWidget *modal);
void rejectModal(QWidget *modal);

// For as long as it lives, answers every modal widget with action (which must
// close it) and keeps what each showed, so that an unexpected second box is
// counted instead of blocking the test: "<class>|<title>", and for a message
// box "|<text>|<icon>|<standard buttons>|<button count>|<default>|<parent>".
class ModalWatcher
{
public:
    explicit ModalWatcher(std::function<void(QWidget *)> action = acceptModal);
    ~ModalWatcher();

    QStringList seen;

private:
    QTimer *timer;
};

// Spins the event loop until predicate holds or timeoutMs passes.
bool waitFor(const std::function<bool()> &predicate, int timeoutMs = 10000);

} // namespace testsupport
