// Writes the seed corpora into the directory given, one folder per target:
// updatefile/, update files made with the builder, whole and damaged;
// checksums/, checksum files as the tests write them, after the name they are
// asked about and a NUL; history/, entries as the programs write them and as
// the tests damage them; trust/, an authority, its signers and several lists of
// it (fuzz/trustseeds/), as the files of one trusted folder split by "%%"
// lines, in both orders and in one file. (scripts/fuzz.sh adds the tests' trust
// store to trust/.)
//   fuzz_seeds <directory>

#include "runhistory.h"
#include "updatefilebuilder.h"

#include <cstdio>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QList>
#include <QMap>
#include <QString>
#include <QtEndian>
#include <utility>

namespace {

// Small enough that the fuzzer mutates them quickly; page-sized images add nothing to the reader.
constexpr int smallImage = 300;
using headerlayout::nextOffsetPosition;

updatefile::Image image(const char *name, quint32 address, int length, quint32 seed)
{
    updatefile::Image result;
    result.name = QByteArray(name);
    result.version = 0x01000000 | seed;
    result.address = address;
    result.minHW = seed % 4;
    result.data = updatefile::pattern(seed, length);
    return result;
}

QByteArray withNextOffset(QByteArray bytes, int headerPosition, quint32 nextOffset)
{
    qToLittleEndian(nextOffset, bytes.data() + headerPosition + nextOffsetPosition);
    return bytes;
}

using Seeds = QList<std::pair<const char *, QByteArray>>;

Seeds seeds()
{
    const QByteArray three =
        updatefile::build({image("BOOT", 0x0, smallImage, 1), image("KERN", 0x80400, smallImage / 2, 2),
                           image("APP", 0x200000, smallImage / 3, 3)});
    updatefile::Image reserved = image("RSV", 0x40000, 64, 4);
    reserved.reserved = QByteArray(12, '\xEE');

    return {
        {"one-image", updatefile::build({image("ONE", 0x40000, smallImage, 5)})},
        {"three-images", three},
        {"header-only", updatefile::build({image("NUL", 0x40000, 0, 6)})},
        {"two-character-name", updatefile::build({image("AB", 0x40000, 17, 7)})},
        {"reserved-bytes-set", updatefile::build({reserved})},
        {"off-page-address", updatefile::build({image("ODD", 0x80401, 1023, 8)})},
        {"ends-at-last-address", updatefile::build({image("TOP", 0xFFFFFFE0, 0, 9)})},
        {"wraps-past-last-address", updatefile::build({image("WRAP", 0xFFFFFF00, 0xE1, 10)})},
        {"truncated-inside-second-header", three.left(smallImage + 32 + 20)},
        {"shorter-than-a-header", three.left(20)},
        {"next-offset-past-end", withNextOffset(three, 0, 0x7FFFFFF0)},
        {"next-offset-inside-header", withNextOffset(three, 0, 4)},
        {"next-offset-one", withNextOffset(updatefile::build({image("ONE", 0, 64, 11)}), 0, 1)},
        {"huge-image-claimed", withNextOffset(three, 0, 0x2000020)},
        {"empty", QByteArray()},
        {"same-address-twice",
         updatefile::build({image("ONE", 0x40000, 64, 12), image("TWO", 0x40000, 64, 13)})},
        {"erases-into-earlier",
         updatefile::build({image("HIGH", 0x60000, 64, 14), image("LOW", 0x40400, 64, 15)})},
    };
}

Seeds checksumSeeds()
{
    const QByteArray digest = QByteArray(64, 'a').replace(10, 6, "0123ef");
    const QByteArray line = digest + "  update.zarnru\n";
    const QByteArray wrong = QByteArray(64, '0') + "  update.zarnru\n";
    const QByteArray named = QByteArray("update.zarnru") + '\0';
    return {
        {"sha256sum", named + line},
        {"wrong-then-right", named + wrong + line},
        {"right-twice", named + line + line},
        {"other-name-only", named + QByteArray(64, '0') + "  x.zarnru\n"},
        {"binary-mode", named + digest + " *update.zarnru\n"},
        {"escaped-name", QByteArray("a\\b\nc.zarnru") + '\0' + '\\' + digest + "  a\\\\b\\nc.zarnru\n"},
        {"crlf-and-path", named + digest.toUpper() + "  ./dir/update.zarnru\r\n" + wrong},
        {"not-sha256sum", named + "not a checksum\n"},
        {"no-name", line},
    };
}

HistoryEntry entry(const char *result, int pagesWritten)
{
    HistoryEntry made;
    made.id = QStringLiteral("20261201T101010123-4242");
    made.started = QDateTime(QDate(2026, 12, 1), QTime(10, 10, 10, 123), Qt::UTC);
    made.durationMs = 81234;
    made.user = QStringLiteral("operator");
    made.pid = 4242;
    made.program = QStringLiteral("zarn-update");
    made.file = QStringLiteral("/data/new.zarnru");
    made.sha256 = QString(64, QLatin1Char('b'));
    made.signer = QStringLiteral("Vendor Signing");
    made.images = {{QStringLiteral("BOOT"), 0x01020304, 0x40000, 3000},
                   {QStringLiteral("APP"), 0x01020304, 0x80000, 4000}};
    made.result = QLatin1String(result);
    made.outcome = made.result == QLatin1String("started") ? QString() : QStringLiteral("failed");
    made.flashTouched = made.outcome == QLatin1String("failed");
    made.cause = made.flashTouched ? QStringLiteral("Input/output error") : QString();
    made.lastLine = QStringLiteral("Error erasing page at 0x40000 (Input/output error)");
    made.pagesSkipped = pagesWritten < 0 ? -1 : 12;
    made.pagesWritten = pagesWritten;
    made.pagesProgrammed = pagesWritten < 0 ? -1 : 1;
    return made;
}

Seeds historySeeds()
{
    const auto json = [](const HistoryEntry &made) {
        return QJsonDocument(RunHistory::toJson(made)).toJson(QJsonDocument::Indented);
    };
    return {
        {"failed", json(entry("failed", -1))},
        {"started", json(entry("started", -1))},
        {"only-changed", json(entry("succeeded", 3))},
        {"nul-in-last-line", R"({"id": "x", "started": "2026-01-01T00:00:00.000Z", "result": "failed",
                                 "lastLine": "cut\u0000short", "images": []})"},
        {"out-of-range", R"({"durationMs": 1e300, "pid": -4294967295, "images": [{"size": -1}, 7]})"},
    };
}

// An authority with a revoked signer, and lists of it: one passed that revokes it, one current that does
// not, one issued far ahead that revokes it, one of its name signed by another key, one for end
// certificates only, one with an unknown critical extension.
bool trustSeeds(Seeds *seeds)
{
    QMap<QString, QByteArray> read;
    for (const char *name : {"authority.pem", "passed.crl", "current.crl", "ahead.crl", "forged.crl",
                             "partial.crl", "critical.crl"}) {
        QFile file(QDir(QStringLiteral(ZARN_TRUST_SEEDS)).filePath(QLatin1String(name)));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
            return false;
        }
        read.insert(QString::fromLatin1(name).section('.', 0, 0), file.readAll());
    }
    const auto folder = [&read](const QStringList &files) {
        QByteArrayList parts;
        for (const QString &file : files)
            parts.append(read.value(file));
        return parts.join("%%\n");
    };
    *seeds = {
        {"passed-and-current", folder({"authority", "passed", "current"})},
        {"current-and-passed", folder({"authority", "current", "passed"})},
        {"ahead-and-current", folder({"authority", "current", "ahead"})},
        {"lists-in-one-file",
         folder({"authority"}) + "%%\n" + read.value("current") + read.value("passed") + read.value("ahead")},
        {"forged-beside-current", folder({"authority", "forged", "current"})},
        {"partial", folder({"authority", "partial"})},
        {"critical", folder({"authority", "critical"})},
    };
    return true;
}

bool writeSeeds(const QString &directory, const Seeds &seeds, const char *suffix)
{
    if (!QDir().mkpath(directory))
        return false;
    for (const auto &seed : seeds) {
        QFile file(QDir(directory).filePath(QLatin1String(seed.first) + QLatin1String(suffix)));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(seed.second) != seed.second.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    Seeds trust;
    const bool written =
        trustSeeds(&trust) && writeSeeds(directory.filePath(QStringLiteral("trust")), trust, ".pem") &&
        writeSeeds(directory.filePath(QStringLiteral("updatefile")), seeds(), ".zarnru") &&
        writeSeeds(directory.filePath(QStringLiteral("checksums")), checksumSeeds(), ".sha256") &&
        writeSeeds(directory.filePath(QStringLiteral("history")), historySeeds(), ".json");
    return written ? 0 : 1;
}
