#pragma once

#include <QLatin1String>
#include <QString>
#include <QtGlobal>

// Texts the engine's operations share, and the one way numbers end them:
// lower-case hexadecimal after a "0x" that ends the text.
namespace statuslines {

inline constexpr char writing[] = "Writing to Flash memory at 0x";
inline constexpr char reading[] = "Reading from Flash memory at 0x";
inline constexpr char erasing[] = "Erasing page at 0x";
inline constexpr char eraseError[] = "Error erasing page at 0x";
inline constexpr char verifyError[] = "Error verifying Flash memory at 0x";
inline constexpr char allocationError[] = "Error allocating memory for the image at 0x";

// One allocation per line, written in place: these are built for every 1 KiB block.
inline QString hexLine(const char *text, quint64 value)
{
    char digits[16];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    const QLatin1String prefix(text);
    QString line(prefix.size() + count, Qt::Uninitialized);
    QChar *at = line.data();
    for (const char c : prefix)
        *at++ = QLatin1Char(c);
    while (count > 0)
        *at++ = QLatin1Char(digits[--count]);
    return line;
}

} // namespace statuslines
