#include "flashlock.h"

#include "zarndriver.h"

#include <cerrno>
#include <fcntl.h>
#include <QByteArray>
#include <QFile>
#include <QList>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace flashlock {

namespace {

// flock(2) does not name the holder; /proc/locks does, by device and inode:
// "1: FLOCK  ADVISORY  WRITE 1234 00:05:1234 0 EOF". Lines of waiters carry "->".
qint64 holderOf(int fd)
{
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return 0;
    const QByteArray identity = QByteArray::number(major(status.st_dev), 16).rightJustified(2, '0') + ':' +
                                QByteArray::number(minor(status.st_dev), 16).rightJustified(2, '0') + ':' +
                                QByteArray::number(quint64(status.st_ino));
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = locks.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) != "FLOCK" || fields.at(3) != "WRITE" ||
            fields.at(5) != identity)
            continue;
        bool ok = false;
        const qint64 pid = fields.at(4).toLongLong(&ok);
        if (ok && pid > 0 && pid != ::getpid())
            return pid;
    }
    return 0;
}

} // namespace

Attempt tryLock(int fd)
{
    Attempt attempt;
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        attempt.state = Attempt::Held;
    } else if (errno == EWOULDBLOCK) {
        attempt.state = Attempt::Busy;
        attempt.holder = holderOf(fd);
    } else {
        attempt.error = errno;
    }
    return attempt;
}

Attempt probe()
{
    const int fd = ::open(zarndriver::flashPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Attempt attempt;
        attempt.error = errno;
        return attempt;
    }
    const Attempt attempt = tryLock(fd);
    // Closing lets go of the lock taken for the probe.
    ::close(fd);
    return attempt;
}

namespace {

// The command a holder that is zarn-update was given ("verify", "backup",
// "update"), from its command line; empty for any other program.
QByteArray commandOf(qint64 holder)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(holder));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> words = file.read(4096).split('\0');
    if (words.isEmpty() || !words.first().endsWith("zarn-update"))
        return {};
    for (int i = 1; i < words.size(); ++i)
        if (!words.at(i).startsWith('-'))
            return words.at(i);
    return {};
}

} // namespace

QString busyText(qint64 holder)
{
    // A verification or a backup only reads, but holds the flash all the same.
    const QByteArray command = holder > 0 ? commandOf(holder) : QByteArray();
    QString text =
        command == "verify"   ? QStringLiteral("The ZARN flash is being verified by zarn-update verify")
        : command == "backup" ? QStringLiteral("The ZARN flash is being read by zarn-update backup")
                              : QStringLiteral("Another update of the ZARN flash is under way");
    if (holder > 0)
        text += QStringLiteral(" (process ") + QString::number(holder) + QLatin1Char(')');
    return text + QLatin1Char('.');
}

} // namespace flashlock
