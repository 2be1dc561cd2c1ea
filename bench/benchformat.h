#pragma once

#include "benchclock.h"

#include <cstdio>
#include <QString>
#include <QtGlobal>

// Shared by the parts of the benchmark: progress on standard error, and the
// units the table writes its figures in.
namespace bench {

inline constexpr quint32 mib = 1024 * 1024;
// How long the window is left to settle before and after what is measured.
inline constexpr int settleMs = 300;

inline void progress(const QString &line)
{
    std::fprintf(stderr, "zarn-bench: %s\n", qPrintable(line));
    std::fflush(stderr);
}

inline QString sizeName(quint32 bytes)
{
    return QStringLiteral("%1 MiB").arg(bytes / mib);
}

inline QString ms(double ns, int decimals = 1)
{
    return QString::number(ns / bench::nsPerMs, 'f', decimals) + QStringLiteral(" ms");
}

inline QString seconds(double ns)
{
    return QString::number(ns / bench::nsPerS, 'f', 3) + QStringLiteral(" s");
}

inline QString mibPerS(quint32 bytes, double ns)
{
    return QString::number(bytes / bench::bytesPerMiB / (ns / bench::nsPerS), 'f', 1) +
           QStringLiteral(" MiB/s");
}

inline QString mibOfKib(qint64 kib)
{
    return QString::number(kib / 1024.0, 'f', 1) + QStringLiteral(" MiB");
}
// One image whose block, header included, is exactly blockSize bytes: the
// engine writes and reads back blockSize bytes, all in whole 1 KiB transfers.

} // namespace bench
