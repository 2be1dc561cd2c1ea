#pragma once

#include <QByteArray>

class UpdateSnapshot;

namespace provenance {

// The SHA-256 of the snapshot's bytes in lower-case hexadecimal, through
// OpenSSL's digest (several times faster than a portable one on a large
// file); empty when the snapshot holds no bytes.
QByteArray sha256(const UpdateSnapshot &snapshot);

} // namespace provenance
