#pragma once

#include "imageheader.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// An image's header fields as the operator reads them, in the window's image
// list and on the command line alike.
namespace imagetext {

// Most significant byte first, and no dot between the third and fourth numbers:
// the bytes 1, 2, 3, 4 show as 1.2.34, the form in which image versions are known.
inline QString version(quint32 version)
{
    return QString::number(version >> 24) + QLatin1Char('.') + QString::number((version >> 16) & 0xffU) +
           QLatin1Char('.') + QString::number((version >> 8) & 0xffU) + QString::number(version & 0xffU);
}

// The name field is NUL-padded, and has no terminator when all four bytes are used.
inline QString name(const ImageHeader &image)
{
    return QString::fromUtf8(nameBytes(image));
}

inline QString address(quint32 address)
{
    return QStringLiteral("0x") + QString::number(address, 16);
}

} // namespace imagetext
