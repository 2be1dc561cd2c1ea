// Any bytes as an update file: through the header reader and the pre-flight
// check that stands between a file and the flash. The reader must end, make
// records only from whole headers inside the bytes and read nothing but header
// fields; a list that the check lets through must be safe for every flash
// operation the engine then does with it.

#include "fuzzrequire.h"
#include "imageheader.h"
#include "updatefilereader.h"
#include "zarndriver.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>
#include <vector>

namespace {

constexpr quint64 addressRangeEnd = quint64(1) << 32;
constexpr quint32 flashPageSize = zarndriver::pageSize;
using headerlayout::addressPosition;
using headerlayout::minHWPosition;
using headerlayout::namePosition;
using headerlayout::versionPosition;
constexpr int fieldSize = 4;
const QString fuzzFilename = QStringLiteral("fuzz.zarnru");

// Remembers every read the reader makes and what it got, so that a read of
// anything but a header field shows.
class WatchedBuffer final : public QBuffer
{
public:
    struct Read
    {
        qint64 position;
        qint64 got;
    };

    std::vector<Read> reads;

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 position = pos();
        const qint64 got = QBuffer::readData(data, maxSize);
        reads.push_back({position, got});
        return got;
    }
};

quint32 wordAt(const uint8_t *data, quint64 position)
{
    return qFromLittleEndian<quint32>(data + position);
}

// The chain as the file layout defines it, walked without Qt: the reference
// the reader is held to.
struct Expected
{
    struct Block
    {
        quint64 position;
        quint32 nextOffset;
    };
    std::vector<Block> blocks;
    bool complete = false;
    quint64 cutPosition = 0;
};

Expected walk(const uint8_t *data, size_t size)
{
    Expected expected;
    quint64 position = 0;
    while (position + updatefilereader::headerSize <= size) {
        const quint32 nextOffset = wordAt(data, position + updatefilereader::nextOffsetPosition);
        expected.blocks.push_back({position, nextOffset});
        if (nextOffset == 0) {
            expected.complete = true;
            return expected;
        }
        position += nextOffset;
    }
    expected.cutPosition = position;
    return expected;
}

bool isHeaderFieldRead(const WatchedBuffer::Read &read, const std::vector<quint64> &headerPositions)
{
    for (quint64 header : headerPositions) {
        const qint64 at = read.position - qint64(header);
        if ((at == versionPosition || at == addressPosition || at == minHWPosition || at == namePosition ||
             at == updatefilereader::nextOffsetPosition) &&
            read.got <= fieldSize)
            return true;
    }
    return false;
}

int readAll(const QByteArray &bytes, QIODevice::OpenMode mode, QList<ImageHeader> *list,
            std::vector<WatchedBuffer::Read> *reads)
{
    WatchedBuffer buffer;
    buffer.setData(bytes);
    FUZZ_REQUIRE(buffer.open(mode));
    const int result = updatefilereader::readHeaders(buffer, list);
    if (reads)
        *reads = buffer.reads;
    return result;
}

void checkRecords(const uint8_t *data, size_t size, const Expected &expected, int result,
                  const QList<ImageHeader> &list)
{
    FUZZ_REQUIRE(result ==
                 (expected.complete ? updatefilereader::chainComplete : updatefilereader::chainCutShort));
    FUZZ_REQUIRE(size_t(list.size()) == expected.blocks.size());
    for (int i = 0; i < list.size(); ++i) {
        const ImageHeader &record = list.at(i);
        const Expected::Block &block = expected.blocks.at(size_t(i));
        const bool last = i == list.size() - 1;
        // Only whole headers inside the bytes make records.
        FUZZ_REQUIRE(quint64(record.offset) + updatefilereader::headerSize <= size);
        FUZZ_REQUIRE(record.offset == block.position);
        FUZZ_REQUIRE(i > 0 || record.offset == 0);
        FUZZ_REQUIRE(record.version == wordAt(data, record.offset + versionPosition));
        FUZZ_REQUIRE(record.address == wordAt(data, record.offset + addressPosition));
        FUZZ_REQUIRE(record.minHW == wordAt(data, record.offset + minHWPosition));
        FUZZ_REQUIRE(std::memcmp(record.name, data + record.offset + namePosition, fieldSize) == 0);
        if (block.nextOffset != 0) {
            FUZZ_REQUIRE(record.size == block.nextOffset);
            if (!last)
                FUZZ_REQUIRE(quint64(list.at(i + 1).offset) == quint64(record.offset) + record.size);
        } else {
            FUZZ_REQUIRE(last);
            FUZZ_REQUIRE(quint64(record.offset) + record.size == size);
        }
    }
    if (!expected.complete && !list.isEmpty())
        FUZZ_REQUIRE(quint64(list.last().offset) + list.last().size == expected.cutPosition);
}

quint64 erasedEnd(const ImageHeader &image)
{
    const quint64 pages = (quint64(image.size) + flashPageSize - 1) / flashPageSize;
    return quint64(image.address) + pages * flashPageSize;
}

// Whether the pages that image later erases (twice, and again on a page
// repair) reach the data of image earlier, programmed before it. The last 32
// bytes of a block are the next header or filler, which nothing needs to keep.
bool erasesDataOf(const ImageHeader &later, const ImageHeader &earlier)
{
    const quint64 dataStart = earlier.address;
    const quint64 dataEnd = quint64(earlier.address) + earlier.size - updatefilereader::headerSize;
    return dataEnd > dataStart && later.address < dataEnd && dataStart < erasedEnd(later);
}

// What the check must say, judged from the records alone; every pair of
// images is compared, independently of how the check finds an overlap.
updatefilereader::Fault expectedFault(const QList<ImageHeader> &list, int result, int *image)
{
    *image = -1;
    if (list.isEmpty())
        return updatefilereader::Fault::NoImage;
    if (result != updatefilereader::chainComplete)
        return updatefilereader::Fault::CutShort;
    for (int i = 0; i < list.size(); ++i) {
        *image = i;
        if (list.at(i).size > updatefilereader::imageBufferLimit)
            return updatefilereader::Fault::ImageTooLarge;
        if (quint64(list.at(i).address) + list.at(i).size > addressRangeEnd)
            return updatefilereader::Fault::AddressWraps;
        if (list.at(i).size < quint32(updatefilereader::headerSize))
            return updatefilereader::Fault::ShorterThanHeader;
    }
    for (int i = 0; i < list.size(); ++i) {
        *image = i;
        for (int j = 0; j < i; ++j)
            if (erasesDataOf(list.at(i), list.at(j)))
                return updatefilereader::Fault::ErasesEarlierImage;
    }
    *image = -1;
    return updatefilereader::Fault::None;
}

// Every address and file position the flash operations compute in 32 bits
// for an image that passed must agree with the same sum in 64 bits.
void checkSafeForFlash(const ImageHeader &image, size_t fileSize)
{
    FUZZ_REQUIRE(image.size <= updatefilereader::imageBufferLimit);
    FUZZ_REQUIRE(image.size >= quint32(updatefilereader::headerSize));
    FUZZ_REQUIRE(quint64(image.address) + image.size <= addressRangeEnd);
    FUZZ_REQUIRE(quint64(image.offset) + image.size <= fileSize);
    FUZZ_REQUIRE(quint64(image.offset) + updatefilereader::headerSize <= fileSize);
    const quint32 pages = image.size / flashPageSize + (image.size % flashPageSize != 0 ? 1 : 0);
    if (pages > 0) {
        const quint32 lastPage = image.address + (pages - 1) * flashPageSize;
        FUZZ_REQUIRE(quint64(lastPage) == quint64(image.address) + quint64(pages - 1) * flashPageSize);
    }
    if (image.size > 0) {
        const quint32 lastWord = image.address + (image.size - 1);
        FUZZ_REQUIRE(lastWord >= image.address);
    }
}

void checkVerdict(size_t size, int result, const QList<ImageHeader> &list)
{
    const updatefilereader::Finding finding = updatefilereader::check(list, result, qint64(size));
    int image = -1;
    FUZZ_REQUIRE(finding.fault == expectedFault(list, result, &image));
    const QString line = updatefilereader::describe(finding, fuzzFilename, list);
    if (finding.fault == updatefilereader::Fault::None) {
        FUZZ_REQUIRE(line.isEmpty());
        FUZZ_REQUIRE(result == updatefilereader::chainComplete && !list.isEmpty());
        for (int i = 0; i < list.size(); ++i) {
            checkSafeForFlash(list.at(i), size);
            for (int j = 0; j < i; ++j)
                FUZZ_REQUIRE(!erasesDataOf(list.at(i), list.at(j)));
        }
    } else {
        FUZZ_REQUIRE(line.contains(fuzzFilename));
        if (finding.fault == updatefilereader::Fault::ImageTooLarge ||
            finding.fault == updatefilereader::Fault::AddressWraps ||
            finding.fault == updatefilereader::Fault::ShorterThanHeader)
            FUZZ_REQUIRE(finding.image == image);
        if (finding.fault == updatefilereader::Fault::ErasesEarlierImage) {
            FUZZ_REQUIRE(finding.image == image);
            FUZZ_REQUIRE(finding.earlierImage >= 0 && finding.earlierImage < finding.image);
            FUZZ_REQUIRE(erasesDataOf(list.at(finding.image), list.at(finding.earlierImage)));
        }
        if (finding.fault == updatefilereader::Fault::CutShort)
            FUZZ_REQUIRE(finding.cutPosition + updatefilereader::headerSize > size);
    }
    // Offsets and sizes are 32 bits: the same records from a file of 4 GiB are refused whole.
    const updatefilereader::Finding huge = updatefilereader::check(list, result, qint64(addressRangeEnd));
    FUZZ_REQUIRE(huge.fault == updatefilereader::Fault::FileTooLarge);
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Seeking past the end is how the reader finds a chain cut short; the
    // warnings QBuffer writes about it would only slow the fuzzer down.
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // No copy: the reader works on the fuzzer's own allocation, so a read past
    // its end is caught by AddressSanitizer.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const Expected expected = walk(data, size);

    // Records already in the list stay in front of the new ones.
    ImageHeader sentinel{};
    sentinel.offset = 0xA5A5A5A5;
    sentinel.size = 0x5A5A5A5A;
    QList<ImageHeader> withSentinel{sentinel};
    std::vector<WatchedBuffer::Read> reads;
    const int result = readAll(bytes, QIODevice::ReadOnly | QIODevice::Unbuffered, &withSentinel, &reads);
    FUZZ_REQUIRE(!withSentinel.isEmpty());
    FUZZ_REQUIRE(std::memcmp(&withSentinel.first(), &sentinel, sizeof sentinel) == 0);
    const QList<ImageHeader> list = withSentinel.mid(1);
    checkRecords(data, size, expected, result, list);

    std::vector<quint64> headerPositions;
    for (const Expected::Block &block : expected.blocks)
        headerPositions.push_back(block.position);
    if (!expected.complete)
        headerPositions.push_back(expected.cutPosition);
    for (const WatchedBuffer::Read &read : reads) {
        FUZZ_REQUIRE(read.got >= 0 && read.position >= 0 && quint64(read.position + read.got) <= size);
        FUZZ_REQUIRE(read.got == 0 || isHeaderFieldRead(read, headerPositions));
    }
    FUZZ_REQUIRE(reads.size() <= 5 * headerPositions.size());

    // The engine reads through a buffered QFile: the same bytes must give the same records.
    QList<ImageHeader> buffered;
    FUZZ_REQUIRE(readAll(bytes, QIODevice::ReadOnly, &buffered, nullptr) == result);
    FUZZ_REQUIRE(buffered.size() == list.size());
    for (int i = 0; i < list.size(); ++i)
        FUZZ_REQUIRE(std::memcmp(&buffered.at(i), &list.at(i), sizeof sentinel) == 0);

    checkVerdict(size, result, list);
    return 0;
}
