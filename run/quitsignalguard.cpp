#include "quitsignalguard.h"

#include "runsession.h"

#include <cerrno>
#include <pthread.h>
#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>
#include <QString>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct GuardedSignal
{
    int number;
    const char *name;
};

const std::array<GuardedSignal, 4> guardedSignals{
    {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}}};

// A shell reports a process that a signal ended with this plus the signal's number.
const int signalExitBase = 128;

// Made once per process and kept to its end: a handler may still run on
// another thread while a guard goes away.
int wakeSockets[2] = {-1, -1};
QuitSignalGuard *activeGuard = nullptr;

extern "C" void noteSignal(int number)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Nothing to do on failure: the socket is full only of signals already noted.
    const ssize_t written = ::write(wakeSockets[1], &byte, 1);
    static_cast<void>(written);
    errno = savedErrno;
}

QString signalName(int number)
{
    for (const GuardedSignal &guarded : guardedSignals)
        if (guarded.number == number)
            return QLatin1String(guarded.name);
    return QString::number(number);
}

sigset_t guardedSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const GuardedSignal &guarded : guardedSignals)
        sigaddset(&set, guarded.number);
    return set;
}

} // namespace

QuitSignalGuard::QuitSignalGuard(RunSession *session, QObject *parent) : QObject(parent), session(session)
{
    if (activeGuard || !install())
        return;
    activeGuard = this;
    connect(session, &RunSession::started, this, &QuitSignalGuard::keepSignalsFromTheRunThread);
    connect(session, &RunSession::ended, this, &QuitSignalGuard::runEnded);
}

QuitSignalGuard::~QuitSignalGuard()
{
    if (activeGuard != this)
        return;
    for (std::size_t i = 0; i < guardedSignals.size(); ++i)
        sigaction(guardedSignals[i].number, &previousActions[i], nullptr);
    activeGuard = nullptr;
}

bool QuitSignalGuard::install()
{
    if (wakeSockets[0] < 0 &&
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, wakeSockets) != 0) {
        qWarning() << QStringLiteral("Termination signals are not guarded: no socket pair, errno ") +
                          QString::number(errno);
        return false;
    }
    readSignals(); // left over from an earlier guard of this process

    notifier = new QSocketNotifier(wakeSockets[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QuitSignalGuard::readSignals);

    struct sigaction action = {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    // Slow calls on other threads carry on instead of failing with EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < guardedSignals.size(); ++i)
        sigaction(guardedSignals[i].number, &action, &previousActions[i]);
    return true;
}

void QuitSignalGuard::readSignals()
{
    unsigned char numbers[16];
    ssize_t count;
    while ((count = ::read(wakeSockets[0], numbers, sizeof numbers)) > 0) {
        // Before a notifier exists there is only draining to do.
        if (!notifier)
            continue;
        for (ssize_t i = 0; i < count; ++i)
            signalArrived(numbers[i]);
    }
}

void QuitSignalGuard::signalArrived(int number)
{
    if (!session->underWay()) {
        qDebug() << QStringLiteral("Received ") + signalName(number) + QStringLiteral(": quitting");
        quitFor(number);
        return;
    }
    qDebug() << QStringLiteral("Received ") + signalName(number) +
                    QStringLiteral(" during an update: quitting when the update has ended");
    if (!deferredSignal)
        deferredSignal = number;
}

void QuitSignalGuard::runEnded()
{
    if (!deferredSignal)
        return;
    qDebug() << QStringLiteral("The update has ended: quitting for ") + signalName(deferredSignal);
    // Queued, so that the window first shows the end of the run in full.
    QMetaObject::invokeMethod(
        this, [this, number = deferredSignal] { quitFor(number); }, Qt::QueuedConnection);
}

void QuitSignalGuard::quitFor(int number)
{
    QCoreApplication::exit(signalExitBase + number);
}

// The run's thread inherits the signal mask of the thread that creates it,
// which is this one, right after the run has started. With the signals blocked
// there, a signal never interrupts a device call of the run; the GUI thread
// takes them again as soon as the window's slot has returned.
void QuitSignalGuard::keepSignalsFromTheRunThread()
{
    const sigset_t guarded = guardedSet();
    sigset_t previous;
    if (pthread_sigmask(SIG_BLOCK, &guarded, &previous) != 0)
        return;
    QMetaObject::invokeMethod(
        this, [previous] { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }, Qt::QueuedConnection);
}
