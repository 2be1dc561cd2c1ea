#pragma once

#include "imageheader.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <sys/types.h>

class QFile;
class QIODevice;

// Reading the header chain of an update file and judging it before the flash is
// touched. Nothing here talks to a device, so a fuzzer can feed it any bytes
// through a QBuffer.
namespace updatefilereader {

inline constexpr int headerSize = headerlayout::size;
inline constexpr int nextOffsetPosition = headerlayout::nextOffsetPosition;

// Largest image the engine programs: one transfer buffer holds a whole image.
inline constexpr u_int32_t imageBufferLimit = 0x2000000;

// Results of readHeaders, and so of UpdaterThread::getHeaderInfo.
inline constexpr int chainComplete = 0;
inline constexpr int fileUnreadable = -1;
inline constexpr int chainCutShort = -2; // a header the file does not hold whole ended the reading

// Opens file (named, not yet open) for reading, but only when it names a
// regular file: a FIFO would hold the open until a writer came, and a device
// could hand out bytes without end. Never blocks. The open file no longer
// knows its name (QFile::fileName() is empty): callers keep it themselves.
bool openRegularFile(QFile &file);

// Appends one record per whole header, following nextOffset from position 0
// until a header holds 0 there (chainComplete) or a header is not wholly in
// the file (chainCutShort). device must be open for reading.
int readHeaders(QIODevice &device, QList<ImageHeader> *list);

enum class Fault {
    None,
    FileTooLarge, // offsets and sizes are 32-bit
    NoImage,
    CutShort,
    ImageTooLarge,
    AddressWraps,       // address + size runs past 0xffffffff
    ShorterThanHeader,  // nextOffset below 32: the next header starts inside this one
    ErasesEarlierImage, // its pages reach into an image programmed before it
};

struct Finding
{
    Fault fault = Fault::None;
    int image = -1;          // index into the list, for the image faults
    int earlierImage = -1;   // ErasesEarlierImage: the image it would destroy
    quint64 cutPosition = 0; // CutShort: where the header that is not whole starts
};

// chainResult is what readHeaders returned for this list.
Finding check(const QList<ImageHeader> &list, int chainResult, qint64 fileSize);

// "image 2 (KERN)": the image's place in the file, and its name where it has
// a printable one.
QString imageLabel(const QList<ImageHeader> &list, int index);

// The operator's status line for a fault, naming the file and, where it
// applies, the image.
QString describe(const Finding &finding, const QString &filename, const QList<ImageHeader> &list);

} // namespace updatefilereader
