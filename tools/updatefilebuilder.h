#pragma once

#include "imageheader.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// Writes update files (.zarnru): a chain of image blocks, each a 32-byte
// header followed by the image data. Used by the command-line builder and by
// the tests.
namespace updatefile {

inline constexpr int headerSize = headerlayout::size;

struct Image
{
    QByteArray name;     // up to four bytes, NUL-padded in the header
    quint32 version = 0; // most significant byte first when shown
    quint32 address = 0; // flash address of the data
    quint32 minHW = 0;
    QByteArray data;
    QByteArray reserved; // header bytes 16 to 27; zeros when shorter
};

// Header fields little-endian; nextOffset is the distance to the next header,
// 0 in the last one.
QByteArray build(const QList<Image> &images);

// Deterministic, non-repeating test data of the given length.
QByteArray pattern(quint32 seed, int length);

bool writeFile(const QString &path, const QList<Image> &images);

} // namespace updatefile
