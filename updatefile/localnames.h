#pragma once

#include <QString>

// File names are bytes to the kernel, not text. A name that is not valid
// UTF-8 (made on a system with another encoding, or damaged) must still open,
// and so must the signature and checksum files beside it; only the way it is
// shown may lose something.
namespace localnames {

// Makes the process's local 8-bit encoding UTF-8 that keeps every byte:
// a byte that is not part of valid UTF-8 becomes the lone surrogate U+DC80 to
// U+DCFF when decoded and that byte again when encoded, so a name read from
// the command line, a file dialog or a directory names the same file when
// opened. Valid UTF-8 decodes as it always did. Call before anything decodes
// a name (before the application object is made).
void keepUndecodableBytes();

// text fit for one line of a terminal: control characters, and bytes kept
// from an undecodable name, written as \xNN.
QString printable(const QString &text);

} // namespace localnames
