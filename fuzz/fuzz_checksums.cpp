// Any bytes as a checksum file beside an update file: the name of the file
// before the first NUL (update.zarnru without one), the listing after it. The
// parser must end, and a digest it gives must be one the listing holds, for
// the file it was asked about.

#include "checksumfile.h"
#include "fuzzrequire.h"

#include <algorithm>
#include <cstdint>
#include <QByteArray>
#include <QList>
#include <QString>

namespace {

bool isLowerHexDigest(const QByteArray &digest)
{
    return digest.size() == 64 && std::all_of(digest.begin(), digest.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const int split = input.indexOf('\0');
    const QByteArray fileName = split < 0 ? QByteArray("update.zarnru") : input.left(split);
    const QByteArray listing = split < 0 ? input : input.mid(split + 1);

    QList<QByteArray> digests;
    QString problem;
    const bool found = checksumfile::digestsFor(listing, fileName, &digests, &problem);
    if (!found) {
        FUZZ_REQUIRE(problem == QLatin1String(" is not in the format sha256sum writes") ||
                     problem == QStringLiteral(" holds no checksum of ") + QString::fromLocal8Bit(fileName));
        return 0;
    }
    FUZZ_REQUIRE(problem.isEmpty());
    FUZZ_REQUIRE(!digests.isEmpty());
    // Each digest starts a line of the listing (after a backslash for an escaped name), in any case.
    const QByteArray lower = '\n' + listing.toLower();
    for (const QByteArray &digest : digests) {
        FUZZ_REQUIRE(isLowerHexDigest(digest));
        FUZZ_REQUIRE(lower.contains('\n' + digest) || lower.contains("\n\\" + digest));
    }
    // No more digests than lines.
    FUZZ_REQUIRE(digests.size() <= listing.count('\n') + 1);
    return 0;
}
