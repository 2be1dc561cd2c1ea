// Any bytes as a file of a trusted folder: read as certificates (*.pem,
// *.crt) and as revocation lists (*.crl), listed as zarn-update trust lists
// them, and every certificate read checked as a signer against all that was
// read, lists included. Nothing may crash or leak; a file that refuses must
// be named, one that does not must have added something; every text the
// operator may see must stay on its line.

#include "fuzzrequire.h"
#include "signerchain.h"
#include "trust.h"
#include "trustlisting.h"

#include <cstdint>
#include <QByteArray>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QString certificatePath = QStringLiteral("/trusted/fuzz.pem");
    const QString listPath = QStringLiteral("/trusted/fuzz.crl");
    const provenance::ErrorQueueScope errors;
    provenance::Trust trust;
    FUZZ_REQUIRE(trust.certificates && trust.store && trust.lists);

    const QString certificates = provenance::addCertificates(bytes, certificatePath, &trust);
    const int certificateCount = sk_X509_num(trust.certificates.get());
    FUZZ_REQUIRE(certificates.isEmpty()
                     ? certificateCount > 0
                     : certificates == "Error reading trusted certificate " + certificatePath);
    const QString lists = provenance::addRevocationLists(bytes, listPath, &trust);
    const int listCount = sk_X509_CRL_num(trust.lists.get());
    FUZZ_REQUIRE(lists.isEmpty() ? listCount > 0 : lists == "Error reading revocation list " + listPath);
    FUZZ_REQUIRE(trust.certificateFiles.size() == certificateCount && trust.listFiles.size() == listCount);

    const provenance::TrustListing listing = provenance::describe(trust);
    FUZZ_REQUIRE(listing.certificates.size() == certificateCount && listing.lists.size() == listCount);
    for (const provenance::CertificateListing &certificate : listing.certificates) {
        FUZZ_REQUIRE(certificate.file == certificatePath);
        FUZZ_REQUIRE(oneLine(certificate.subject) && oneLine(certificate.issuer) &&
                     !certificate.serial.isEmpty());
    }
    for (const provenance::RevocationListing &list : listing.lists) {
        FUZZ_REQUIRE(list.file == listPath && oneLine(list.issuer) && list.revoked >= 0);
        FUZZ_REQUIRE(!list.signatureVerified || list.issuerInstalled);
    }

    FUZZ_REQUIRE(X509_STORE_set_flags(
                     trust.store.get(),
                     X509_V_FLAG_PARTIAL_CHAIN |
                         (listCount > 0 ? X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL : 0)) == 1);
    for (int i = 0; i < certificateCount && i < checkedSigners; ++i) {
        X509 *signer = sk_X509_value(trust.certificates.get(), i);
        QString warning;
        const QString refusal = provenance::signerRefusal(signer, trust.certificates.get(), trust, &warning);
        FUZZ_REQUIRE(oneLine(refusal) && oneLine(warning));
        FUZZ_REQUIRE(refusal.isEmpty() || warning.isEmpty());
        FUZZ_REQUIRE(!refusal.isEmpty() || provenance::signsCode(signer));
    }
    return 0;
}
