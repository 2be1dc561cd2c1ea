#pragma once

#include <cstddef>
#include <QByteArray>

class UpdateSnapshot;
struct evp_md_ctx_st;

namespace provenance {

// The SHA-256 of the snapshot's bytes in lower-case hexadecimal, through
// OpenSSL's digest (several times faster than a portable one on a large
// file); empty when the snapshot holds no bytes. Worked out once for each
// snapshot and kept with it: its bytes are sealed, and whoever asks again
// (the run, its history, its recovery copy) gets the same digest at no cost.
QByteArray sha256(const UpdateSnapshot &snapshot);

// SHA-256 of bytes given piece by piece, through the same digest.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void add(const void *data, size_t length);
    // Lower-case hexadecimal; empty when the digest failed at any point.
    QByteArray hex();

private:
    evp_md_ctx_st *context;
    bool failed;
};

// Lets go of what OpenSSL keeps for the calling thread (its error queue among
// it). A thread that checked or hashed an update calls it before it reports
// its end: the process may end as soon as the run has, before the thread's
// own exit would have freed it.
void releaseThreadState();

} // namespace provenance
