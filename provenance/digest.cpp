#include "digest.h"

#include "updatesnapshot.h"

#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <QFile>

namespace provenance {

QByteArray sha256(const UpdateSnapshot &snapshot)
{
    QFile bytes;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!snapshot.open(bytes) || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return QByteArray();
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 got = bytes.read(block.data(), block.size());
        if (got < 0)
            return QByteArray();
        if (got == 0)
            break;
        if (EVP_DigestUpdate(context.get(), block.constData(), size_t(got)) != 1)
            return QByteArray();
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

void releaseThreadState()
{
    OPENSSL_thread_stop();
}

} // namespace provenance
