// Any bytes as a file of the run history: read as an entry, told as the
// programs tell it, and written again. Nothing may crash or convert out of
// range, and what the reader makes of its own writing must be what it wrote.

#include "fuzzrequire.h"
#include "runhistory.h"

#include <cstdint>
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    HistoryEntry entry;
    if (!RunHistory::readEntry(bytes, &entry))
        return 0;
    FUZZ_REQUIRE(!RunHistory::describe(entry).isEmpty());
    // Signal 0 only asks whether a process is there; a pid out of range must never reach it as another.
    FUZZ_REQUIRE(!entry.interrupted() || entry.result == QLatin1String("started"));

    const QJsonObject written = RunHistory::toJson(entry);
    HistoryEntry again;
    FUZZ_REQUIRE(RunHistory::readEntry(QJsonDocument(written).toJson(QJsonDocument::Compact), &again));
    FUZZ_REQUIRE(RunHistory::toJson(again) == written);
    return 0;
}
