#include "journal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace journal {

namespace {

const char historyFolder[] = "/history";
// The group's, for every member, whatever each one's umask; new files and
// folders inherit the group through the set-group-ID bit.
constexpr mode_t sharedFileMode = 0660;
constexpr mode_t sharedFolderMode = 02770;
// As the user's own history has always been written.
constexpr mode_t ownFileMode = 0644;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Empty when entries can be made in folder (and in its history folder, if
// it has one); otherwise why not.
QString unusable(const QString &folder)
{
    if (!QDir::isAbsolutePath(folder))
        return QStringLiteral("not an absolute path");
    for (const QString &path : {folder, folder + QLatin1String(historyFolder)}) {
        const QByteArray name = QFile::encodeName(path);
        struct stat status;
        if (::stat(name.constData(), &status) != 0) {
            if (errno == ENOENT && path != folder)
                break; // made with the first entry
            return errorText(errno);
        }
        if (!S_ISDIR(status.st_mode))
            return path + QStringLiteral(" is not a folder");
        if (::access(name.constData(), W_OK | X_OK) != 0)
            return path + QStringLiteral(": ") + errorText(errno);
    }
    return QString();
}

bool sameFolder(const QString &a, const QString &b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return canonicalA.isEmpty() ? QDir::cleanPath(a) == QDir::cleanPath(b)
                                : canonicalA == QFileInfo(b).canonicalFilePath();
}

bool syncFolder(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace

Place find()
{
    Place place;
    const QString named = qEnvironmentVariable(directoryVariable);
    const QString system = named.isEmpty() ? QLatin1String(systemDirectory) : named;
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString own = state + QStringLiteral("/zarn-update-utility") + QLatin1String(historyFolder);
    const QString systemHistory = system + QLatin1String(historyFolder);
    const QString why = unusable(system);
    place.shared = why.isEmpty();
    place.history = place.shared ? systemHistory : own;
    if (!place.shared)
        place.fallback =
            QStringLiteral("The system's journal %1 cannot be written (%2): the history is kept in "
                           "%3, for this user only.")
                .arg(system, why, own);
    place.read << place.history;
    // The other one is read too when it can be: what it holds was written to this flash all the same.
    const QString other = place.shared ? own : systemHistory;
    if (QDir::isAbsolutePath(other) && QFileInfo(other).isDir() && !sameFolder(other, place.history))
        place.read << other;
    return place;
}

bool makeDirectory(const QString &directory, bool shared, QString *error)
{
    // A folder made now is an entry of its parent, which must reach the disk
    // too before anything in it counts as kept.
    const QString parent = QFileInfo(directory).absolutePath();
    if (!shared) {
        const bool there = QFileInfo(directory).isDir();
        if (QDir().mkpath(directory) && (there || syncFolder(parent)))
            return true;
        *error = QStringLiteral("cannot create ") + directory;
        return false;
    }
    // Only its last part: the journal's folder is the system's, there already.
    const QByteArray name = QFile::encodeName(directory);
    if (::mkdir(name.constData(), sharedFolderMode) == 0) {
        if (::chmod(name.constData(), sharedFolderMode) == 0 && syncFolder(parent))
            return true;
    } else if (errno == EEXIST && QFileInfo(directory).isDir()) {
        return true;
    }
    *error = QStringLiteral("cannot create ") + directory + QStringLiteral(": ") + errorText(errno);
    return false;
}

bool writeFile(const QString &directory, const QString &name, const QByteArray &bytes, bool shared,
               QString *error)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
        name == QLatin1String("..")) {
        *error = QStringLiteral("no file name: ") + name;
        return false;
    }
    const QString path = directory + QLatin1Char('/') + name;
    // A name of this process's own: another writer's leftover is neither
    // opened nor given another mode.
    const QByteArray temporary =
        QFile::encodeName(path + QLatin1Char('.') + QString::number(::getpid()) + QStringLiteral(".tmp"));
    const mode_t mode = shared ? sharedFileMode : ownFileMode;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(temporary.constData(), flags, mode);
    if (fd < 0 && errno == EEXIST && ::unlink(temporary.constData()) == 0)
        fd = ::open(temporary.constData(), flags, mode);
    if (fd < 0) {
        *error = errorText(errno);
        return false;
    }
    bool ok = !shared || ::fchmod(fd, mode) == 0;
    qint64 done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        ok = wrote > 0;
        done += ok ? wrote : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    const int savedErrno = errno;
    // The descriptor goes whatever happened; a failed close after fsync loses nothing.
    ::close(fd);
    if (ok && ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0) {
        // The rename itself must reach the disk too.
        if (syncFolder(directory))
            return true;
        *error = errorText(errno);
        return false;
    }
    *error = errorText(ok ? errno : savedErrno);
    ::unlink(temporary.constData());
    return false;
}

} // namespace journal
