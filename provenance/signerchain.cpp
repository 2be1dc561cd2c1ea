#include "signerchain.h"

#include "revocation.h"

namespace provenance {

namespace {

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
    if (!context || X509_STORE_CTX_init(context.get(), trust.store.get(), signer, carried) != 1)
        return QStringLiteral("the certificate of ") + displayName(signer) +
               QStringLiteral(" cannot be checked");
    // The lists are not OpenSSL's to judge: it takes one list per issuer, the
    // one whose dates suit it best, where any of them may revoke.
    if (X509_verify_cert(context.get()) != 1) {
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
    const QString revoked = chainRevocation(X509_STORE_CTX_get0_chain(context.get()), carried, trust);
    if (!revoked.isEmpty())
        return revoked;
    if (!signsCode(signer))
        return QStringLiteral("the certificate of ") + displayName(signer) +
               QStringLiteral(" is not for code signing");
    *warning = expiryWarning(context.get());
    return QString();
}

} // namespace provenance
