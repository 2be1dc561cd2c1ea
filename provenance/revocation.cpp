#include "revocation.h"

#include <openssl/objects.h>
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

// The dotted number of an extension: printable whatever the list holds.
QString extensionText(X509_EXTENSION *extension)
{
    char text[128] = {};
    const int length = OBJ_obj2txt(text, int(sizeof text), X509_EXTENSION_get_object(extension), 1);
    return length > 0 && length < int(sizeof text) ? QString::fromLatin1(text)
                                                   : QStringLiteral("an unreadable one");
}

// A list is applied as the whole list of its issuer, in force whatever its
// dates: what would make it less (a delta, a part of the issuer's
// certificates, another issuer's entries) or what it would have applied
// that this check does not know (a critical extension) keeps it from being
// applied at all. Empty when it can be.
QString applicationFault(X509_CRL *list)
{
    const ASN1_TIME *next = X509_CRL_get0_nextUpdate(list);
    if (!dateOf(X509_CRL_get0_lastUpdate(list)).isValid() || (next && !dateOf(next).isValid()))
        return QStringLiteral("its dates cannot be read");
    const STACK_OF(X509_EXTENSION) *extensions = X509_CRL_get0_extensions(list);
    for (int i = 0; i < sk_X509_EXTENSION_num(extensions); ++i) {
        X509_EXTENSION *extension = sk_X509_EXTENSION_value(extensions, i);
        switch (OBJ_obj2nid(X509_EXTENSION_get_object(extension))) {
        case NID_delta_crl:
            return QStringLiteral("it holds only the changes since another list (a delta list)");
        case NID_issuing_distribution_point: {
            int critical = 0;
            auto *scope = static_cast<ISSUING_DIST_POINT *>(
                X509_CRL_get_ext_d2i(list, NID_issuing_distribution_point, &critical, nullptr));
            if (!scope)
                return QStringLiteral("its scope cannot be read");
            const bool partial = scope->onlyuser || scope->onlyCA || scope->onlyattr ||
                                 scope->onlysomereasons || scope->indirectCRL;
            ISSUING_DIST_POINT_free(scope);
            if (partial)
                return QStringLiteral("it covers only some of its issuer's certificates");
            break;
        }
        case NID_authority_key_identifier:
        case NID_crl_number:
            break;
        default:
            if (X509_EXTENSION_get_critical(extension))
                return QStringLiteral("it holds a critical extension that cannot be applied, ") +
                       extensionText(extension);
        }
    }
    STACK_OF(X509_REVOKED) *entries = X509_CRL_get_REVOKED(list);
    for (int i = 0; i < sk_X509_REVOKED_num(entries); ++i) {
        const STACK_OF(X509_EXTENSION) *entryExtensions =
            X509_REVOKED_get0_extensions(sk_X509_REVOKED_value(entries, i));
        for (int e = 0; e < sk_X509_EXTENSION_num(entryExtensions); ++e) {
            X509_EXTENSION *extension = sk_X509_EXTENSION_value(entryExtensions, e);
            const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
            if (nid == NID_certificate_issuer)
                return QStringLiteral("it covers only some of its issuer's certificates");
            if (X509_EXTENSION_get_critical(extension) && nid != NID_crl_reason && nid != NID_invalidity_date)
                return QStringLiteral("an entry holds a critical extension that cannot be applied, ") +
                       extensionText(extension);
        }
    }
    return QString();
}

bool signsLists(X509 *certificate)
{
    // Without the extension, a certificate's key may be used for anything.
    return (X509_get_key_usage(certificate) & KU_CRL_SIGN) != 0;
}

bool verifies(X509_CRL *list, X509 *certificate)
{
    EVP_PKEY *key = X509_get0_pubkey(certificate);
    return key && X509_CRL_verify(list, key) == 1;
}

// Whether a trusted certificate of the list's issuer's name is installed, and
// the one whose key signed the list, if any.
bool installedIssuer(const Trust &trust, X509_CRL *list, X509 **signing)
{
    bool named = false;
    *signing = nullptr;
    for (int i = 0; i < sk_X509_num(trust.certificates.get()) && !*signing; ++i) {
        X509 *certificate = sk_X509_value(trust.certificates.get(), i);
        if (X509_NAME_cmp(X509_get_subject_name(certificate), X509_CRL_get_issuer(list)) != 0)
            continue;
        named = true;
        if (verifies(list, certificate))
            *signing = certificate;
    }
    return named;
}

QString listFile(const Trust &trust, const X509_CRL *list)
{
    for (int i = 0; i < sk_X509_CRL_num(trust.lists.get()); ++i)
        if (sk_X509_CRL_value(trust.lists.get(), i) == list)
            return trust.listFiles.value(i);
    return QString();
}

// The certificate that signed certificate, among those installed and those
// the signature carries: for the top of a chain that ends at a trusted
// certificate below its authority.
X509 *issuerOf(X509 *certificate, STACK_OF(X509) * carried, const Trust &trust)
{
    for (STACK_OF(X509) * pool : {trust.certificates.get(), carried})
        for (int i = 0; i < sk_X509_num(pool); ++i) {
            X509 *candidate = sk_X509_value(pool, i);
            EVP_PKEY *key = X509_get0_pubkey(candidate);
            if (X509_NAME_cmp(X509_get_subject_name(candidate), X509_get_issuer_name(certificate)) == 0 &&
                key && X509_verify(certificate, key) == 1)
                return candidate;
        }
    return nullptr;
}

} // namespace

QString listFault(const Trust &trust, int index)
{
    X509_CRL *list = sk_X509_CRL_value(trust.lists.get(), index);
    if (!list)
        return QStringLiteral("it cannot be read");
    const QString unapplied = applicationFault(list);
    if (!unapplied.isEmpty())
        return unapplied;
    X509 *signing = nullptr;
    if (!installedIssuer(trust, list, &signing))
        return QString();
    const QString issuer = nameText(X509_CRL_get_issuer(list));
    if (!signing)
        return QStringLiteral("its signature does not verify with the trusted certificate of its issuer, ") +
               issuer;
    if (!signsLists(signing))
        return QStringLiteral("the trusted certificate of its issuer, ") + issuer +
               QStringLiteral(", is not for signing revocation lists");
    return QString();
}

QString listsRefusal(const Trust &trust)
{
    const ErrorQueueScope errors; // a list that does not verify leaves OpenSSL's reasons
    for (int i = 0; i < sk_X509_CRL_num(trust.lists.get()); ++i) {
        const QString fault = listFault(trust, i);
        if (!fault.isEmpty())
            return QStringLiteral("Error checking revocation list ") + trust.listFiles.value(i) +
                   QStringLiteral(": ") + fault;
    }
    return QString();
}

QString chainRevocation(const STACK_OF(X509) * chain, STACK_OF(X509) * carried, const Trust &trust)
{
    const ErrorQueueScope errors;
    const int length = sk_X509_num(chain);
    for (int depth = 0; depth < length; ++depth) {
        X509 *certificate = sk_X509_value(chain, depth);
        X509 *issuer = depth + 1 < length ? sk_X509_value(chain, depth + 1) : nullptr;
        if (!issuer)
            issuer = X509_check_issued(certificate, certificate) == X509_V_OK
                         ? certificate
                         : issuerOf(certificate, carried, trust);
        // A revocation found in any list outweighs a list that cannot be checked.
        QString unchecked;
        const auto cannotCheck = [&unchecked](const QString &line) {
            if (unchecked.isEmpty())
                unchecked = line;
        };
        for (int i = 0; i < sk_X509_CRL_num(trust.lists.get()); ++i) {
            X509_CRL *list = sk_X509_CRL_value(trust.lists.get(), i);
            if (X509_NAME_cmp(X509_CRL_get_issuer(list), X509_get_issuer_name(certificate)) != 0)
                continue;
            const QString named = QStringLiteral("the revocation list ") + listFile(trust, list);
            X509 *installed = nullptr;
            if (!issuer) {
                cannotCheck(named +
                            QStringLiteral(" cannot be checked: no trusted certificate of its issuer, ") +
                            nameText(X509_CRL_get_issuer(list)) + QStringLiteral(", is installed"));
                continue;
            }
            QString fault = applicationFault(list);
            if (fault.isEmpty() && !verifies(list, issuer)) {
                // Another authority of the same name, installed, that signed it.
                if (installedIssuer(trust, list, &installed) && installed)
                    continue;
                fault = QStringLiteral("its signature does not verify with the certificate of its issuer");
            }
            if (fault.isEmpty() && !signsLists(issuer))
                fault = QStringLiteral("the certificate of its issuer is not for signing revocation lists");
            if (!fault.isEmpty()) {
                cannotCheck(named + QStringLiteral(" cannot be used for the certificate of ") +
                            displayName(certificate) + QStringLiteral(": ") + fault);
                continue;
            }
            // An entry that says the certificate was taken off a list is as
            // good as none only in a delta list, which is never applied.
            X509_REVOKED *entry = nullptr;
            if (X509_CRL_get0_by_cert(list, &entry, certificate) != 0 && entry)
                return QStringLiteral("the certificate of %1 (serial %2) was revoked on %3: %4")
                    .arg(displayName(certificate), serialText(X509_get0_serialNumber(certificate)),
                         dateText(X509_REVOKED_get0_revocationDate(entry)), reasonText(entry));
        }
        if (!unchecked.isEmpty())
            return unchecked;
    }
    return QString();
}

} // namespace provenance
