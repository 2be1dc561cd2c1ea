#include "processidentity.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <QByteArray>
#include <QList>
#include <unistd.h>

namespace processidentity {

namespace {

// A small file of /proc, read at most once and never past its bound.
QByteArray readSmall(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    char buffer[1024];
    ssize_t got;
    do
        got = ::read(fd, buffer, sizeof buffer);
    while (got < 0 && errno == EINTR);
    ::close(fd);
    return got > 0 ? QByteArray(buffer, int(got)) : QByteArray();
}

} // namespace

Identity of(qint64 pid)
{
    Identity identity;
    const QByteArray boot = readSmall("/proc/sys/kernel/random/boot_id").trimmed();
    if (boot.size() == 36)
        identity.boot = QString::fromLatin1(boot);
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return identity;
    // The command's name may hold spaces and parentheses: the fields start after the last ')'.
    const QByteArray stat = readSmall(QByteArray("/proc/" + QByteArray::number(pid) + "/stat").constData());
    const int end = stat.lastIndexOf(')');
    if (end < 0)
        return identity;
    // From the state (field 3) on: the start time is field 22.
    const QList<QByteArray> fields = stat.mid(end + 2).split(' ');
    bool number = false;
    const qint64 ticks = fields.size() > 19 ? fields.at(19).toLongLong(&number) : 0;
    if (number && ticks > 0)
        identity.startTicks = ticks;
    return identity;
}

bool gone(qint64 pid, const Identity &noted)
{
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return true;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return true;
    const Identity now = of(pid);
    if (!noted.boot.isEmpty() && !now.boot.isEmpty() && noted.boot != now.boot)
        return true;
    return noted.startTicks > 0 && now.startTicks > 0 && noted.startTicks != now.startTicks;
}

} // namespace processidentity
