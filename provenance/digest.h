#pragma once

#include <QByteArray>

class UpdateSnapshot;

namespace provenance {

// The SHA-256 of the snapshot's bytes in lower-case hexadecimal, through
// OpenSSL's digest (several times faster than a portable one on a large
// file); empty when the snapshot holds no bytes.
QByteArray sha256(const UpdateSnapshot &snapshot);

// Lets go of what OpenSSL keeps for the calling thread (its error queue among
// it). A thread that checked or hashed an update calls it before it reports
// its end: the process may end as soon as the run has, before the thread's
// own exit would have freed it.
void releaseThreadState();

} // namespace provenance
