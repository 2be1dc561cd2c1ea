#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

class QDBusPendingCallWatcher;
class RunSession;

// Holds a logind inhibitor lock against sleep, shutdown and idle actions for
// as long as an update run is under way, so that a closed lid, an idle timer or
// a shutdown from the desktop does not stop the machine with the flash half
// programmed. The lock is the descriptor logind hands out: it holds while the
// descriptor is open. Without a bus or without logind the run goes on
// unprotected, as it always did.
class RunInhibitor final : public QObject
{
    Q_OBJECT

public:
    // bus: the system bus in the product.
    RunInhibitor(RunSession *session, const QDBusConnection &bus, QObject *parent);

    bool holdsLock() const;

private:
    void takeLock();
    void lockReplied(QDBusPendingCallWatcher *reply, quint64 run);
    void releaseLock();

    RunSession *session;
    QDBusConnection bus;
    quint64 runsStarted = 0;
    QDBusUnixFileDescriptor lock;
};
