#include "runinhibitor.h"

#include "runsession.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QString>

namespace {

const char *const login1Service = "org.freedesktop.login1";
const char *const login1Path = "/org/freedesktop/login1";
const char *const login1Manager = "org.freedesktop.login1.Manager";
const char *const inhibitMethod = "Inhibit";

const char *const inhibitWhat = "sleep:shutdown:idle";
const char *const inhibitWho = "ZARN Update Utility";
const char *const inhibitWhy = "Updating the ZARN flash memory";
const char *const inhibitMode = "block";

// The call is asynchronous, so a hung bus costs the window nothing; the
// timeout only bounds how long an unanswered request is kept.
const int inhibitReplyTimeoutMs = 5000;

void reportNoLock(const QString &reason)
{
    qDebug() << QStringLiteral("No inhibitor lock could be taken: ") + reason;
}

} // namespace

RunInhibitor::RunInhibitor(RunSession *session, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), session(session), bus(bus)
{
    connect(session, &RunSession::started, this, &RunInhibitor::takeLock);
    connect(session, &RunSession::ended, this, &RunInhibitor::releaseLock);
}

bool RunInhibitor::holdsLock() const
{
    return lock.isValid();
}

void RunInhibitor::takeLock()
{
    const quint64 run = ++runsStarted;
    if (!bus.isConnected()) {
        const QString reason = bus.lastError().message();
        reportNoLock(reason.isEmpty() ? QStringLiteral("no system bus") : reason);
        return;
    }

    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(login1Service), QLatin1String(login1Path),
                                       QLatin1String(login1Manager), QLatin1String(inhibitMethod));
    call << QString::fromLatin1(inhibitWhat) << QString::fromLatin1(inhibitWho)
         << QString::fromLatin1(inhibitWhy) << QString::fromLatin1(inhibitMode);
    auto *reply = new QDBusPendingCallWatcher(bus.asyncCall(call, inhibitReplyTimeoutMs), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this,
            [this, run](QDBusPendingCallWatcher *finished) { lockReplied(finished, run); });
}

void RunInhibitor::lockReplied(QDBusPendingCallWatcher *reply, quint64 run)
{
    // The reply keeps a copy of the descriptor: it must go, or the lock would
    // outlive the run.
    reply->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> answer = *reply;
    if (answer.isError()) {
        reportNoLock(answer.error().message());
        return;
    }
    const QDBusUnixFileDescriptor descriptor = answer.value();
    if (!descriptor.isValid()) {
        reportNoLock(QStringLiteral("no descriptor in the reply"));
        return;
    }
    // A lock granted after its run has ended is dropped with the reply.
    if (run == runsStarted && session->underWay())
        lock = descriptor;
}

void RunInhibitor::releaseLock()
{
    lock = QDBusUnixFileDescriptor();
}
