// Writes the seed corpus of fuzz_updatefile into the directory given: update
// files made with the builder, whole and damaged, one per file.
//   fuzz_seeds <directory>

#include "updatefilebuilder.h"

#include <cstdio>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
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

QList<std::pair<const char *, QByteArray>> seeds()
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

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const QString directory = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(directory)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    for (const auto &seed : seeds()) {
        QFile file(QDir(directory).filePath(QLatin1String(seed.first) + QStringLiteral(".zarnru")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(seed.second) != seed.second.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
