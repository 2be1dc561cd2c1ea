#include "digest.h"

#include "updatesnapshot.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <QFile>

namespace provenance {

namespace {

QByteArray hashed(const UpdateSnapshot &snapshot)
{
    QFile bytes;
    if (!snapshot.open(bytes))
        return QByteArray();
    Sha256 hash;
    qint64 total = 0;
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 got; (got = bytes.read(block.data(), block.size())) != 0; total += got) {
        if (got < 0)
            return QByteArray();
        hash.add(block.constData(), size_t(got));
    }
    // Sealed bytes that read back shorter than they are were not all hashed.
    return total == snapshot.fileSize() ? hash.hex() : QByteArray();
}

} // namespace

QByteArray sha256(const UpdateSnapshot &snapshot)
{
    return snapshot.digest(hashed);
}

Sha256::Sha256() : context(EVP_MD_CTX_new()), failed(false)
{
    failed = !context || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(context);
}

void Sha256::add(const void *data, size_t length)
{
    if (!failed && length > 0)
        failed = EVP_DigestUpdate(context, data, length) != 1;
}

QByteArray Sha256::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (failed || EVP_DigestFinal_ex(context, digest, &length) != 1) {
        failed = true;
        return QByteArray();
    }
    failed = true; // a context that gave its digest takes nothing more
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

void releaseThreadState()
{
    OPENSSL_thread_stop();
}

} // namespace provenance
