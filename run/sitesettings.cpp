#include "sitesettings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <QFile>
#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <sys/stat.h>
#include <unistd.h>

namespace sitesettings {

namespace {

// A whole number in a range. Every setting the program knows is a row here
// and a member of Settings; a section is known when one of its keys is.
struct Key
{
    const char *section;
    const char *name;
    int Settings::*field;
    int minimum;
    int maximum;
};

const Key keys[] = {
    {"power", "minimum-battery-percent", &Settings::minimumBatteryPercent, 0, 100},
    {"recovery", "keep", &Settings::recoveryKeep, 1, 1000},
};

enum class Found { Missing, Read, Unreadable };

// The whole file, or why not. It lies where the site puts it, and anything may
// take its place: a FIFO would hold the open and the read, a device could hand
// out bytes without end, and opening some acts on them. So it is looked at
// first and opened only when it is a regular file.
Found readFile(const QString &path, QByteArray *bytes, QString *why)
{
    const QByteArray name = QFile::encodeName(path);
    const auto failed = [why](const QString &cause) {
        *why = cause;
        return Found::Unreadable;
    };
    struct stat status;
    // A link to nothing is there all the same: the site wrote something.
    if (::lstat(name.constData(), &status) != 0 && errno == ENOENT)
        return Found::Missing;
    if (::stat(name.constData(), &status) != 0)
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(status.st_mode))
        return failed(QStringLiteral("not a regular file"));
    // Non-blocking all the same, should something else take its place meanwhile.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    Found found = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
                      ? Found::Read
                      : failed(QStringLiteral("not a regular file"));
    char chunk[4096];
    while (found == Found::Read) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            found = failed(QString::fromLocal8Bit(std::strerror(errno)));
        if (got <= 0)
            break;
        // Counted as it comes: a file that grows meanwhile is not read past the bound either.
        if (bytes->size() + got > maxBytes)
            found = failed(QStringLiteral("larger than %1 KiB").arg(maxBytes / 1024));
        else
            bytes->append(chunk, int(got));
    }
    // Read only: closing it can lose nothing.
    ::close(fd);
    return found;
}

// " (names are lower case: [power])", when name is a known one in another case.
QString caseHint(const QString &name, bool section)
{
    for (const Key &key : keys) {
        const QString known = QLatin1String(section ? key.section : key.name);
        if (name.compare(known, Qt::CaseInsensitive) == 0)
            return QStringLiteral(" (names are lower case: %1)")
                .arg(section ? QLatin1Char('[') + known + QLatin1Char(']') : known);
    }
    return QString();
}

} // namespace

Settings read(const QString &path)
{
    Settings settings;
    QByteArray bytes;
    QString why;
    const Found found = readFile(path, &bytes, &why);
    if (found == Found::Missing)
        return settings;
    if (found == Found::Unreadable) {
        settings.problems << path + QStringLiteral(" cannot be read: ") + why;
        return settings;
    }
    const QRegularExpression wholeNumber(QStringLiteral("^[0-9]{1,9}$"));
    QString section; // null outside any
    bool sectionKnown = false;
    QHash<QString, int> given; // section and key: the line that gave it
    const QList<QByteArray> lines = bytes.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        const auto at = [&](const QString &what) {
            return QStringLiteral("%1:%2: ").arg(path).arg(number) + what;
        };
        QByteArray raw = lines.at(index);
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QString decoded = QString::fromUtf8(raw);
        const QString line = decoded.trimmed();
        if (decoded.toUtf8() != raw) {
            settings.problems << at(QStringLiteral("not UTF-8 text"));
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            sectionKnown = false;
            for (const Key &key : keys)
                sectionKnown = sectionKnown || section == QLatin1String(key.section);
            if (!sectionKnown)
                settings.unknown << at(
                    QStringLiteral("unknown section [%1], passed over with its settings").arg(section) +
                    caseHint(section, true));
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        const QString name = line.left(equals).trimmed();
        if (equals <= 0 || name.isEmpty()) {
            settings.problems << at(QStringLiteral("neither a section, a setting nor a comment"));
            continue;
        }
        const Key *key = nullptr;
        QString home;
        for (const Key &candidate : keys) {
            if (name == QLatin1String(candidate.name))
                home = QLatin1String(candidate.section);
            if (name == QLatin1String(candidate.name) && section == QLatin1String(candidate.section))
                key = &candidate;
        }
        if (section.isNull()) {
            settings.unknown << at(
                QStringLiteral("%1 is outside any section, passed over").arg(name) +
                (home.isEmpty() ? QString() : QStringLiteral(" (it belongs in [%1])").arg(home)));
            continue;
        }
        if (!sectionKnown)
            continue; // said with its section
        if (!key) {
            settings.unknown << at(QStringLiteral("unknown key %1 in [%2], passed over").arg(name, section) +
                                   caseHint(name, false));
            continue;
        }
        const QString place = section + QLatin1Char('\n') + name;
        if (given.contains(place)) {
            settings.problems << at(QStringLiteral("%1 given again in [%2] (first on line %3)")
                                        .arg(name, section)
                                        .arg(given.value(place)));
            continue;
        }
        given.insert(place, number);
        const QString value = line.mid(equals + 1).trimmed();
        const bool whole = wholeNumber.match(value).hasMatch();
        const int parsed = whole ? value.toInt() : 0;
        if (!whole || parsed < key->minimum || parsed > key->maximum) {
            settings.problems << at(QStringLiteral("%1 is not a whole number from %2 to %3: \"%4\"")
                                        .arg(name)
                                        .arg(key->minimum)
                                        .arg(key->maximum)
                                        .arg(value));
            continue;
        }
        settings.*(key->field) = parsed;
    }
    if (settings.usable())
        return settings;
    // A file that cannot be used gives none of its settings.
    Settings defaults;
    defaults.unknown = settings.unknown;
    defaults.problems = settings.problems;
    return defaults;
}

QStringList notes(const QString &path)
{
    const Settings settings = read(path);
    QStringList lines = settings.unknown;
    for (const QString &problem : settings.problems)
        lines << problem +
                     QStringLiteral(" (the site's settings cannot be used: an update on battery is refused)");
    return lines;
}

} // namespace sitesettings
