#include "trustlisting.h"

#include "revocation.h"
#include "trust.h"

#include <algorithm>
#include <openssl/x509v3.h>

namespace provenance {

TrustListing describe(const Trust &trust)
{
    const ErrorQueueScope errors;
    TrustListing listing;
    for (int i = 0; i < sk_X509_num(trust.certificates.get()); ++i) {
        X509 *certificate = sk_X509_value(trust.certificates.get(), i);
        CertificateListing item;
        item.file = trust.certificateFiles.value(i);
        item.subject = nameText(X509_get_subject_name(certificate));
        item.issuer = nameText(X509_get_issuer_name(certificate));
        item.serial = serialText(X509_get0_serialNumber(certificate));
        item.notBefore = dateText(X509_get0_notBefore(certificate));
        item.notAfter = dateText(X509_get0_notAfter(certificate));
        item.datesRead = dateOf(X509_get0_notBefore(certificate)).isValid() &&
                         daysLeft(X509_get0_notAfter(certificate), &item.daysLeft);
        item.codeSigning = signsCode(certificate);
        item.authority = X509_check_ca(certificate) > 0;
        listing.certificates.append(item);
    }
    for (int i = 0; i < sk_X509_CRL_num(trust.lists.get()); ++i) {
        X509_CRL *list = sk_X509_CRL_value(trust.lists.get(), i);
        RevocationListing item;
        item.file = trust.listFiles.value(i);
        item.issuer = nameText(X509_CRL_get_issuer(list));
        item.lastUpdate = dateText(X509_CRL_get0_lastUpdate(list));
        if (const ASN1_TIME *next = X509_CRL_get0_nextUpdate(list)) {
            item.nextUpdate = dateText(next);
            qint64 days = 0;
            item.overdue = daysLeft(next, &days) && days < 0;
        }
        // A list that revokes nothing may hold no stack at all, which counts as -1.
        item.revoked = std::max(0, sk_X509_REVOKED_num(X509_CRL_get_REVOKED(list)));
        for (int c = 0; c < sk_X509_num(trust.certificates.get()); ++c) {
            X509 *certificate = sk_X509_value(trust.certificates.get(), c);
            if (X509_NAME_cmp(X509_get_subject_name(certificate), X509_CRL_get_issuer(list)) != 0)
                continue;
            item.issuerInstalled = true;
            EVP_PKEY *key = X509_get0_pubkey(certificate);
            item.signatureVerified = item.signatureVerified || (key && X509_CRL_verify(list, key) == 1);
        }
        item.refusal = listFault(trust, i);
        listing.lists.append(item);
    }
    return listing;
}

TrustListing describeTrust(const QStringList &directories)
{
    const ErrorQueueScope errors;
    Trust trust;
    const QString problem = loadTrusted(directories, &trust);
    TrustListing listing = describe(trust);
    listing.problem = problem;
    return listing;
}

} // namespace provenance
