#pragma once

#include <QByteArray>
#include <sys/types.h>

// One image of an update file, as its 32-byte header describes it. The worker
// knows it as UpdaterThread::imgHeader; the reader of the header chain needs
// nothing else of the worker.
struct ImageHeader
{
    u_int32_t version;
    u_int32_t address;
    u_int32_t minHW;
    u_int32_t size;   // block length counted from the header's first byte
    u_int32_t offset; // file position of the header
    char name[4];     // not terminated when all four bytes are used
};

// Where each field lies in an image's 32-byte header; the words are
// little-endian. The reader, the builder of update files and the fuzz target
// all take the layout from here.
namespace headerlayout {

inline constexpr int size = 32;
inline constexpr int versionPosition = 0;
inline constexpr int addressPosition = 4;
inline constexpr int minHWPosition = 8;
inline constexpr int namePosition = 12;
inline constexpr int nameSize = 4;
inline constexpr int reservedPosition = 16;
inline constexpr int reservedSize = 12;
inline constexpr int nextOffsetPosition = 28;

} // namespace headerlayout

// The name field's bytes without the NUL padding.
inline QByteArray nameBytes(const ImageHeader &image)
{
    return QByteArray(image.name, int(qstrnlen(image.name, sizeof image.name)));
}
