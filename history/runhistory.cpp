#include "runhistory.h"

#include "imageheader.h"
#include "imagetext.h"
#include "journal.h"
#include "journalfields.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <pwd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QVariant>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char startedResult[] = "started";
// At most one image a flash page (32 Ki pages of 128 KiB in 4 GiB), each well
// under 256 bytes as written: no entry this program writes comes near it.
constexpr qint64 maxEntryBytes = qint64(8) << 20;

// A whole number of the entry as T, or fallback when it is none or out of T's
// range: anyone who may write to the state folder writes these, and a double
// outside the range has no conversion. Beyond 2^53 a JSON number is no longer
// kept exactly, so an entry written again would not say what it was read as.
template <typename T> T wholeNumber(const QJsonValue &value, T fallback = 0)
{
    using Limits = std::numeric_limits<T>; // a signed or unsigned type no wider than qint64
    constexpr qint64 exactLimit = qint64(1) << 53;
    const QVariant variant = value.toVariant();
    if (variant.userType() == QMetaType::LongLong) {
        const qint64 number = variant.toLongLong();
        const bool fits = number >= qint64(Limits::min()) &&
                          (number < 0 || quint64(number) <= quint64(Limits::max())) &&
                          number >= -exactLimit && number <= exactLimit;
        return fits ? T(number) : fallback;
    }
    const double number = value.toDouble(std::nan(""));
    const double limit = std::min(std::ldexp(1.0, Limits::digits), double(exactLimit) + 1);
    return number >= (Limits::is_signed ? -limit : 0.0) && number < limit ? T(number) : fallback;
}

HistoryEntry fromJson(const QJsonObject &object)
{
    HistoryEntry entry;
    entry.id = object.value("id").toString();
    entry.started = QDateTime::fromString(object.value("started").toString(), Qt::ISODateWithMs);
    entry.durationMs = wholeNumber<qint64>(object.value("durationMs"));
    entry.user = object.value("user").toString();
    entry.pid = wholeNumber<qint64>(object.value("pid"));
    entry.program = object.value("program").toString();
    entry.file = object.value("file").toString();
    entry.sha256 = object.value("sha256").toString();
    entry.signer = object.value("signer").toString();
    const QJsonArray images = object.value("images").toArray();
    for (const QJsonValue &value : images) {
        const QJsonObject image = value.toObject();
        entry.images.append({image.value("name").toString(), wholeNumber<quint32>(image.value("version")),
                             wholeNumber<quint32>(image.value("address")),
                             wholeNumber<quint32>(image.value("size"))});
    }
    entry.result = object.value("result").toString();
    for (const QJsonValue &override : object.value("overrides").toArray())
        entry.overrides << override.toString();
    entry.outcome = object.value("outcome").toString();
    entry.flashTouched = object.value("flashTouched").toBool();
    entry.cause = object.value("cause").toString();
    entry.lastLine = object.value("lastLine").toString();
    entry.pagesSkipped = object.value("pagesSkipped").toInt(-1);
    entry.pagesWritten = object.value("pagesWritten").toInt(-1);
    entry.pagesProgrammed = object.value("pagesProgrammed").toInt(-1);
    journalfields::read(object, &entry);
    return entry;
}

// The whole of an entry's file, or why it is passed over. Anyone who may write
// to the state folder decides what lies there: a FIFO would hold the open and
// the read, a device could hand out bytes without end, and opening some acts on
// them, so it is looked at first and opened only when it is a regular file.
bool readEntryFile(const QString &path, QByteArray *bytes, QString *why)
{
    const QByteArray name = QFile::encodeName(path);
    const QString notRegular = QStringLiteral("not a regular file");
    struct stat status;
    if (::stat(name.constData(), &status) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *why = notRegular;
        return false;
    }
    // Non-blocking all the same, should something else take its place meanwhile.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    *why = ok ? QString() : notRegular;
    bytes->clear();
    char chunk[65536];
    while (ok) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            *why = ok ? QString() : QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        // Counted as it comes: a file that grows meanwhile is not read past the bound either.
        ok = bytes->size() + got <= maxEntryBytes;
        if (!ok)
            *why = QStringLiteral("larger than the %1 MiB an entry can hold").arg(maxEntryBytes >> 20);
        else
            bytes->append(chunk, int(got));
    }
    // Read only: closing it can lose nothing.
    ::close(fd);
    return ok;
}

} // namespace

bool HistoryEntry::interrupted() const
{
    return result == QLatin1String(startedResult) && processidentity::gone(pid, process);
}

RunHistory::RunHistory()
{
    const journal::Place place = journal::find();
    dir = place.history;
    shared = place.shared;
    readFrom = place.read;
}

RunHistory::RunHistory(QString directory) : dir(std::move(directory)), readFrom{dir} {}

QStringList RunHistory::journalNotes()
{
    const QString fallback = journal::find().fallback;
    return fallback.isEmpty() ? QStringList() : QStringList{fallback};
}

bool RunHistory::makeFolder(QString *error) const
{
    return journal::makeDirectory(dir, shared, error);
}

bool RunHistory::createFile(const QString &name, const QByteArray &bytes, QString *error) const
{
    return journal::makeDirectory(dir, shared, error) && journal::writeFile(dir, name, bytes, shared, error);
}

bool RunHistory::begin(HistoryEntry &entry, QString *error)
{
    entry.result = QLatin1String(startedResult);
    entry.id = entry.started.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz")) + QLatin1Char('-') +
               QString::number(entry.pid);
    return write(entry, error);
}

bool RunHistory::finish(const HistoryEntry &entry, QString *error)
{
    return write(entry, error);
}

bool RunHistory::write(const HistoryEntry &entry, QString *error)
{
    const QByteArray bytes = QJsonDocument(toJson(entry)).toJson(QJsonDocument::Indented);
    return createFile(entry.id + QStringLiteral(".json"), bytes, error);
}

QList<HistoryEntry> RunHistory::entries(QStringList *passedOver) const
{
    QList<HistoryEntry> all;
    // Whatever lies there under an entry's name, links to nothing and folders
    // included, so that none of it goes unsaid.
    QStringList paths;
    for (const QString &folder : readFrom) {
        for (const QString &name :
             QDir(folder).entryList({QStringLiteral("*.json")},
                                    QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
            paths << folder + QLatin1Char('/') + name;
    }
    for (const QString &path : paths) {
        QByteArray bytes;
        QString why;
        HistoryEntry entry;
        if (readEntryFile(path, &bytes, &why) && readEntry(bytes, &entry)) {
            all.append(entry);
            continue;
        }
        if (passedOver)
            passedOver->append(QStringLiteral("The history entry %1 cannot be read and is passed over: %2")
                                   .arg(path, why.isEmpty() ? QStringLiteral("not a JSON object") : why));
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const HistoryEntry &a, const HistoryEntry &b) { return a.started < b.started; });
    return all;
}

bool RunHistory::readEntry(const QByteArray &bytes, HistoryEntry *entry)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return false;
    *entry = fromJson(document.object());
    return true;
}

QList<HistoryEntry> RunHistory::unfinished(QStringList *passedOver) const
{
    const QList<HistoryEntry> all = entries(passedOver);
    // An update finished by a resume, undone by a restore, or replaced by an
    // update that succeeded after it never ended, is settled.
    QStringList settled;
    for (const HistoryEntry &entry : all)
        if (entry.result == QLatin1String("succeeded"))
            settled += entry.settles;
    QList<HistoryEntry> interrupted;
    for (const HistoryEntry &entry : all) {
        if (entry.interrupted() && !settled.contains(entry.id))
            interrupted.append(entry);
    }
    return interrupted;
}

QStringList RunHistory::notices() const
{
    QStringList passedOver;
    QStringList lines;
    for (const HistoryEntry &entry : unfinished(&passedOver))
        lines << describe(entry);
    return lines + passedOver;
}

const HistoryEntry *RunHistory::lastVerified(const QList<HistoryEntry> &entries, const QString &name,
                                             quint32 address, HistoryEntry::Image *image)
{
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
        if (entry->result != QLatin1String("succeeded"))
            continue;
        for (const HistoryEntry::Image &written : entry->images) {
            if (written.name == name && written.address == address) {
                *image = written;
                return &*entry;
            }
        }
    }
    return nullptr;
}

QString RunHistory::describe(const HistoryEntry &entry)
{
    return QStringLiteral(
               "An update of the ZARN flash started %1 by %2 from %3 never ended: the ZARN system may "
               "not start. Run the update again before restarting the computer.")
        .arg(entry.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), entry.user,
             entry.file);
}

QJsonObject RunHistory::toJson(const HistoryEntry &entry)
{
    QJsonArray images;
    for (const HistoryEntry::Image &image : entry.images) {
        images.append(QJsonObject{{"name", image.name},
                                  {"version", qint64(image.version)},
                                  {"address", qint64(image.address)},
                                  {"size", qint64(image.size)}});
    }
    QJsonObject object{{"id", entry.id},
                       {"started", entry.started.toUTC().toString(Qt::ISODateWithMs)},
                       {"durationMs", std::max<qint64>(entry.durationMs, 0)},
                       {"user", entry.user},
                       {"pid", entry.pid},
                       {"program", entry.program},
                       {"file", entry.file},
                       {"sha256", entry.sha256},
                       {"signer", entry.signer},
                       {"images", images},
                       {"result", entry.result},
                       {"overrides", QJsonArray::fromStringList(entry.overrides)},
                       {"outcome", entry.outcome},
                       {"flashTouched", entry.flashTouched},
                       {"cause", entry.cause},
                       {"lastLine", entry.lastLine},
                       {"pagesSkipped", entry.pagesSkipped},
                       {"pagesWritten", entry.pagesWritten},
                       {"pagesProgrammed", entry.pagesProgrammed}};
    journalfields::write(entry, &object);
    return object;
}
