#include "journalfields.h"

#include <algorithm>
#include <QJsonArray>
#include <QStringView>

namespace journalfields {

namespace {

// Whether text is a SHA-256 as the journal writes one: 64 lower-case hexadecimal digits.
bool isDigest(QStringView text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
           });
}

// A copy's name is its SHA-256 and its kind, nothing that could lead out of the folder.
// (No static pattern: an entry may be read on a run's thread while the process exits.)
HistoryEntry::Copy copyOf(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    HistoryEntry::Copy copy{object.value(QLatin1String("file")).toString(),
                            object.value(QLatin1String("sha256")).toString()};
    const bool named = isDigest(copy.sha256) && (copy.file == copy.sha256 + QLatin1String(".update") ||
                                                 copy.file == copy.sha256 + QLatin1String(".before"));
    return named ? copy : HistoryEntry::Copy{};
}

QJsonValue copyValue(const HistoryEntry::Copy &copy)
{
    if (!copy.kept())
        return QJsonValue();
    return QJsonObject{{"file", copy.file}, {"sha256", copy.sha256}};
}

} // namespace

void read(const QJsonObject &object, HistoryEntry *entry)
{
    const QString kind = object.value(QLatin1String("kind")).toString();
    if (kind == QLatin1String("resume") || kind == QLatin1String("restore"))
        entry->kind = kind;
    entry->target = copyOf(object.value(QLatin1String("target")));
    entry->targetIsPreImage = entry->target.file.endsWith(QLatin1String(".before"));
    entry->before = copyOf(object.value(QLatin1String("before")));
    if (!entry->before.file.endsWith(QLatin1String(".before")))
        entry->before = {};
    for (const QJsonValue &value : object.value(QLatin1String("erases")).toArray()) {
        const QJsonArray page = value.toArray();
        const double address = page.at(0).toDouble(-1);
        const double length = page.at(1).toDouble(-1);
        if (address >= 0 && address < 4294967296.0 && length > 0 && length <= 131072)
            entry->erases.append({quint64(address), quint32(length)});
    }
    entry->follows = object.value(QLatin1String("follows")).toString();
    entry->process.boot = object.value(QLatin1String("boot")).toString();
    const double ticks = object.value(QLatin1String("processStart")).toDouble(0);
    if (ticks > 0 && ticks < 9007199254740992.0)
        entry->process.startTicks = qint64(ticks);
    for (const QJsonValue &value : object.value(QLatin1String("settles")).toArray())
        entry->settles << value.toString();
}

void write(const HistoryEntry &entry, QJsonObject *object)
{
    object->insert(QLatin1String("kind"), entry.kind);
    if (entry.target.kept())
        object->insert(QLatin1String("target"), copyValue(entry.target));
    if (entry.before.kept())
        object->insert(QLatin1String("before"), copyValue(entry.before));
    if (!entry.erases.isEmpty()) {
        QJsonArray erases;
        for (const HistoryEntry::Page &page : entry.erases)
            erases.append(QJsonArray{qint64(page.address), qint64(page.length)});
        object->insert(QLatin1String("erases"), erases);
    }
    if (!entry.follows.isEmpty())
        object->insert(QLatin1String("follows"), entry.follows);
    if (!entry.process.boot.isEmpty())
        object->insert(QLatin1String("boot"), entry.process.boot);
    if (entry.process.startTicks > 0)
        object->insert(QLatin1String("processStart"), entry.process.startTicks);
    if (!entry.settles.isEmpty())
        object->insert(QLatin1String("settles"), QJsonArray::fromStringList(entry.settles));
}

} // namespace journalfields
