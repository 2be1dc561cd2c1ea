// Any bytes as the files of a trusted folder: split at each line "%%" into up
// to maxFiles files, each read as certificates (*.pem, *.crt) and as
// revocation lists (*.crl), so that one issuer may have several lists, in one
// file or in several. Listed as zarn-update trust lists them, the lists judged
// as the store judges them, and every certificate read checked as a signer
// against all that was read, then again with the lists in the opposite order.
// Nothing may crash or leak; a file that refuses must be named, one that does
// not must have added something; every text the operator may see must stay on
// its line; and whether a signer is refused may not depend on the lists' order.

#include "fuzzrequire.h"
#include "revocation.h"
#include "signerchain.h"
#include "trust.h"
#include "trustlisting.h"

#include <cstdint>
#include <QByteArray>
#include <QList>
#include <QString>

namespace {

bool oneLine(const QString &text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return false;
    return true;
}

// Enough certificates to check a chain with an authority and an intermediate.
constexpr int checkedSigners = 4;
// Enough files for a certificate and several lists of its issuer, each alone.
constexpr int maxFiles = 6;

QList<QByteArray> files(const QByteArray &bytes)
{
    QList<QByteArray> parts;
    int from = 0;
    for (int at = bytes.indexOf("\n%%\n"); at >= 0 && parts.size() < maxFiles - 1;
         at = bytes.indexOf("\n%%\n", from)) {
        parts.append(bytes.mid(from, at + 1 - from));
        from = at + 4;
    }
    parts.append(bytes.mid(from));
    return parts;
}

QString path(int file, const char *suffix)
{
    return QStringLiteral("/trusted/fuzz%1").arg(file) + QLatin1String(suffix);
}

// The certificates of trust, and its lists in the opposite order, as another store.
bool reversed(const provenance::Trust &trust, provenance::Trust *other)
{
    if (!other->certificates || !other->store || !other->lists ||
        X509_STORE_set_flags(other->store.get(), X509_V_FLAG_PARTIAL_CHAIN) != 1)
        return false;
    for (int i = 0; i < sk_X509_num(trust.certificates.get()); ++i) {
        X509 *certificate = sk_X509_value(trust.certificates.get(), i);
        if (X509_up_ref(certificate) != 1)
            return false;
        if (sk_X509_push(other->certificates.get(), certificate) <= 0) {
            X509_free(certificate);
            return false;
        }
        if (X509_STORE_add_cert(other->store.get(), certificate) != 1)
            return false;
    }
    for (int i = sk_X509_CRL_num(trust.lists.get()) - 1; i >= 0; --i) {
        X509_CRL *list = sk_X509_CRL_value(trust.lists.get(), i);
        if (X509_CRL_up_ref(list) != 1)
            return false;
        if (sk_X509_CRL_push(other->lists.get(), list) <= 0) {
            X509_CRL_free(list);
            return false;
        }
        other->listFiles.append(trust.listFiles.value(i));
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QList<QByteArray> parts = files(bytes);
    const provenance::ErrorQueueScope errors;
    provenance::Trust trust;
    FUZZ_REQUIRE(trust.certificates && trust.store && trust.lists);

    for (int file = 0; file < parts.size(); ++file) {
        const int before = sk_X509_num(trust.certificates.get());
        const QString refusal = provenance::addCertificates(parts.at(file), path(file, ".pem"), &trust);
        FUZZ_REQUIRE(refusal.isEmpty()
                         ? sk_X509_num(trust.certificates.get()) > before
                         : refusal.startsWith("Error reading trusted certificate " + path(file, ".pem")));
    }
    for (int file = 0; file < parts.size(); ++file) {
        const int before = sk_X509_CRL_num(trust.lists.get());
        const QString refusal = provenance::addRevocationLists(parts.at(file), path(file, ".crl"), &trust);
        FUZZ_REQUIRE(refusal.isEmpty()
                         ? sk_X509_CRL_num(trust.lists.get()) > before
                         : refusal.startsWith("Error reading revocation list " + path(file, ".crl")));
    }
    const int certificateCount = sk_X509_num(trust.certificates.get());
    const int listCount = sk_X509_CRL_num(trust.lists.get());
    FUZZ_REQUIRE(trust.certificateFiles.size() == certificateCount && trust.listFiles.size() == listCount);

    const provenance::TrustListing listing = provenance::describe(trust);
    FUZZ_REQUIRE(listing.certificates.size() == certificateCount && listing.lists.size() == listCount);
    for (const provenance::CertificateListing &certificate : listing.certificates) {
        FUZZ_REQUIRE(certificate.file.startsWith("/trusted/fuzz") && certificate.file.endsWith(".pem"));
        FUZZ_REQUIRE(oneLine(certificate.subject) && oneLine(certificate.issuer) &&
                     !certificate.serial.isEmpty());
    }
    bool anyRefuses = false;
    for (const provenance::RevocationListing &list : listing.lists) {
        FUZZ_REQUIRE(list.file.startsWith("/trusted/fuzz") && list.file.endsWith(".crl"));
        FUZZ_REQUIRE(oneLine(list.issuer) && list.revoked >= 0 && oneLine(list.refusal));
        FUZZ_REQUIRE(!list.signatureVerified || list.issuerInstalled);
        // A list whose issuer is installed and whose signature no certificate of it verifies refuses.
        FUZZ_REQUIRE(!list.issuerInstalled || list.signatureVerified || !list.refusal.isEmpty());
        anyRefuses = anyRefuses || !list.refusal.isEmpty();
    }
    const QString refusal = provenance::listsRefusal(trust);
    FUZZ_REQUIRE(refusal.isEmpty() != anyRefuses && oneLine(refusal));
    FUZZ_REQUIRE(refusal.isEmpty() || refusal.startsWith("Error checking revocation list /trusted/fuzz"));

    FUZZ_REQUIRE(X509_STORE_set_flags(trust.store.get(), X509_V_FLAG_PARTIAL_CHAIN) == 1);
    provenance::Trust other;
    FUZZ_REQUIRE(reversed(trust, &other));
    for (int i = 0; i < certificateCount && i < checkedSigners; ++i) {
        X509 *signer = sk_X509_value(trust.certificates.get(), i);
        QString warning;
        const QString refusal = provenance::signerRefusal(signer, trust.certificates.get(), trust, &warning);
        FUZZ_REQUIRE(oneLine(refusal) && oneLine(warning));
        FUZZ_REQUIRE(refusal.isEmpty() || warning.isEmpty());
        FUZZ_REQUIRE(!refusal.isEmpty() || provenance::signsCode(signer));
        QString otherWarning;
        FUZZ_REQUIRE(
            provenance::signerRefusal(signer, other.certificates.get(), other, &otherWarning).isEmpty() ==
            refusal.isEmpty());
    }
    return 0;
}
