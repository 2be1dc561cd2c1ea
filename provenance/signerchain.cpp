#include "signerchain.h"

#include <algorithm>
#include <openssl/x509v3.h>

namespace provenance {

namespace {

// RFC 5280's names of the reasons, as the vendors' tools write them.
QString reasonText(const X509_REVOKED *entry)
{
    int critical = 0;
    ASN1_ENUMERATED *reason =
        static_cast<ASN1_ENUMERATED *>(X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, &critical, nullptr));
    if (!reason)
        return QStringLiteral("no reason given");
    const long code = ASN1_ENUMERATED_get(reason);
    ASN1_ENUMERATED_free(reason);
    static const char *const names[] = {
        "unspecified",   "keyCompromise",        "cACompromise",    "affiliationChanged",
        "superseded",    "cessationOfOperation", "certificateHold",
        nullptr, // 7 is not used
        "removeFromCRL", "privilegeWithdrawn",   "aACompromise"};
    if (code < 0 || code >= long(sizeof names / sizeof names[0]) || !names[code])
        return QStringLiteral("reason %1").arg(code);
    return QLatin1String(names[code]);
}

// What the check of a chain learnt of the lists, beyond OpenSSL's error.
struct ListFindings
{
    const Trust *trust = nullptr;
    QString refusal;
};

QString listFile(const Trust &trust, const X509_CRL *list)
{
    for (int i = 0; i < sk_X509_CRL_num(trust.lists.get()); ++i)
        if (sk_X509_CRL_value(trust.lists.get(), i) == list)
            return trust.listFiles.value(i);
    return QString();
}

// The faults of a list, which OpenSSL may report after letting go of it.
bool isListFault(int error)
{
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
    case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
    case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION:
    case X509_V_ERR_DIFFERENT_CRL_SCOPE:
    case X509_V_ERR_CRL_PATH_VALIDATION_ERROR:
        return true;
    default:
        return false;
    }
}

X509_CRL *listOfIssuer(const Trust &trust, X509 *certificate)
{
    for (int i = 0; i < sk_X509_CRL_num(trust.lists.get()); ++i) {
        X509_CRL *list = sk_X509_CRL_value(trust.lists.get(), i);
        if (X509_NAME_cmp(X509_CRL_get_issuer(list), X509_get_issuer_name(certificate)) == 0)
            return list;
    }
    return nullptr;
}

bool issuerInstalled(const Trust &trust, X509_CRL *list)
{
    for (int i = 0; i < sk_X509_num(trust.certificates.get()); ++i)
        if (X509_NAME_cmp(X509_get_subject_name(sk_X509_value(trust.certificates.get(), i)),
                          X509_CRL_get_issuer(list)) == 0)
            return true;
    return false;
}

// The entry of certificate in the list that withdrew it: the installed list of
// its issuer's name that names it and that the issuer (the next certificate of
// the chain, or itself at its top) signed. OpenSSL's own hold of the list
// under check is gone by then when the list is past its next update.
X509_REVOKED *revocationEntry(X509_STORE_CTX *context, const Trust &trust, X509 *certificate)
{
    X509_REVOKED *entry = nullptr;
    const STACK_OF(X509) *chain = X509_STORE_CTX_get0_chain(context);
    const int depth = X509_STORE_CTX_get_error_depth(context);
    X509 *issuer = sk_X509_value(chain, std::min(depth + 1, sk_X509_num(chain) - 1));
    EVP_PKEY *key = issuer ? X509_get0_pubkey(issuer) : nullptr;
    for (int i = 0; key && i < sk_X509_CRL_num(trust.lists.get()); ++i) {
        X509_CRL *list = sk_X509_CRL_value(trust.lists.get(), i);
        if (X509_NAME_cmp(X509_CRL_get_issuer(list), X509_get_issuer_name(certificate)) == 0 &&
            X509_CRL_get0_by_cert(list, &entry, certificate) == 1 && X509_CRL_verify(list, key) == 1)
            return entry;
    }
    return nullptr;
}

// Called by X509_verify_cert on each step and each fault of the chain.
int judgeLists(int ok, X509_STORE_CTX *context)
{
    if (ok == 1)
        return 1;
    auto *findings = static_cast<ListFindings *>(X509_STORE_CTX_get_app_data(context));
    const int error = X509_STORE_CTX_get_error(context);
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_CRL: // its issuer keeps no list here
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
        X509_STORE_CTX_set_error(context, X509_V_OK);
        return 1;
    default:
        break;
    }
    X509 *certificate = X509_STORE_CTX_get_current_cert(context);
    if (!findings || !certificate)
        return 0;
    if (error == X509_V_ERR_CERT_REVOKED) {
        const X509_REVOKED *entry = revocationEntry(context, *findings->trust, certificate);
        if (!entry)
            return 0;
        findings->refusal =
            QStringLiteral("the certificate of %1 (serial %2) was revoked on %3: %4")
                .arg(displayName(certificate), serialText(X509_get0_serialNumber(certificate)),
                     dateText(X509_REVOKED_get0_revocationDate(entry)), reasonText(entry));
        return 0;
    }
    X509_CRL *list = X509_STORE_CTX_get0_current_crl(context);
    if (!list && isListFault(error))
        list = listOfIssuer(*findings->trust, certificate);
    if (!list)
        return 0;
    const QString file = listFile(*findings->trust, list);
    const QString named =
        QStringLiteral("the revocation list ") +
        (file.isEmpty() ? QStringLiteral("of ") + nameText(X509_CRL_get_issuer(list)) : file);
    findings->refusal =
        issuerInstalled(*findings->trust, list)
            ? named + QStringLiteral(" cannot be used for the certificate of ") + displayName(certificate) +
                  QStringLiteral(": ") + QString::fromUtf8(X509_verify_cert_error_string(error))
            : named + QStringLiteral(" cannot be checked: no trusted certificate of its issuer, ") +
                  nameText(X509_CRL_get_issuer(list)) + QStringLiteral(", is installed");
    return 0;
}

// The certificate of the verified chain that expires first, when within the warning's days.
QString expiryWarning(X509_STORE_CTX *context)
{
    const STACK_OF(X509) *chain = X509_STORE_CTX_get0_chain(context);
    X509 *first = nullptr;
    qint64 fewest = expiryWarningDays + 1;
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        X509 *certificate = sk_X509_value(chain, i);
        qint64 days = 0;
        if (daysLeft(X509_get0_notAfter(certificate), &days) && days < fewest) {
            fewest = days;
            first = certificate;
        }
    }
    if (!first)
        return QString();
    const QString when = fewest == 0   ? QStringLiteral("today")
                         : fewest == 1 ? QStringLiteral("in 1 day")
                                       : QStringLiteral("in %1 days").arg(fewest);
    return QStringLiteral("the certificate of ") + displayName(first) + QStringLiteral(" expires on ") +
           dateText(X509_get0_notAfter(first)) + QStringLiteral(", ") + when;
}

} // namespace

QString signerRefusal(X509 *signer, STACK_OF(X509) * carried, const Trust &trust, QString *warning)
{
    Owned<X509_STORE_CTX> context(X509_STORE_CTX_new());
    ListFindings findings;
    findings.trust = &trust;
    if (!context || X509_STORE_CTX_init(context.get(), trust.store.get(), signer, carried) != 1 ||
        X509_STORE_CTX_set_app_data(context.get(), &findings) != 1)
        return QStringLiteral("the certificate of ") + displayName(signer) +
               QStringLiteral(" cannot be checked");
    X509_STORE_CTX_set_verify_cb(context.get(), judgeLists);
    if (X509_verify_cert(context.get()) != 1) {
        if (!findings.refusal.isEmpty())
            return findings.refusal;
        const int error = X509_STORE_CTX_get_error(context.get());
        X509 *failing = X509_STORE_CTX_get_current_cert(context.get());
        if (!failing)
            failing = signer;
        switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return QStringLiteral("the certificate of ") + displayName(failing) +
                   QStringLiteral(" expired on ") + dateText(X509_get0_notAfter(failing));
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return QStringLiteral("the certificate of ") + displayName(failing) +
                   QStringLiteral(" is not valid before ") + dateText(X509_get0_notBefore(failing));
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return QStringLiteral("signed by ") + displayName(signer) +
                   QStringLiteral(", whom no trusted certificate vouches for");
        default:
            return QStringLiteral("the certificate of ") + displayName(signer) +
                   QStringLiteral(" cannot be verified: ") +
                   QString::fromUtf8(X509_verify_cert_error_string(error));
        }
    }
    if (!signsCode(signer))
        return QStringLiteral("the certificate of ") + displayName(signer) +
               QStringLiteral(" is not for code signing");
    *warning = expiryWarning(context.get());
    return QString();
}

} // namespace provenance
