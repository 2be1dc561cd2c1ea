#pragma once

#include <memory>
// clang-format off
// cms.h declares its PEM reader only when pem.h came first.
#include <openssl/pem.h>
#include <openssl/cms.h>
// clang-format on
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The certificates a site trusts, as OpenSSL holds them, and the names and
// dates of certificates as the operator reads them.
namespace provenance {

// Far above any real signature, certificate bundle or checksum line, and small
// enough that a wrong file named like one is not read whole.
inline constexpr qint64 sideFileLimit = 1 << 20;

struct OpenSslFree
{
    void operator()(BIO *bio) const { BIO_free_all(bio); }
    void operator()(X509_STORE *store) const { X509_STORE_free(store); }
    void operator()(X509_STORE_CTX *context) const { X509_STORE_CTX_free(context); }
    void operator()(CMS_ContentInfo *cms) const { CMS_ContentInfo_free(cms); }
    void operator()(STACK_OF(X509) * certificates) const { sk_X509_pop_free(certificates, X509_free); }
};
template <typename T> using Owned = std::unique_ptr<T, OpenSslFree>;

// The stack CMS_get0_signers gives is the caller's; the certificates in it are not.
struct StackFree
{
    void operator()(STACK_OF(X509) * certificates) const { sk_X509_free(certificates); }
};
using BorrowedCertificates = std::unique_ptr<STACK_OF(X509), StackFree>;

// OpenSSL keeps its errors per thread; none of ours may be left for the next caller.
struct ErrorQueueScope
{
    ErrorQueueScope() { ERR_clear_error(); }
    ~ErrorQueueScope() { ERR_clear_error(); }
};

struct Trust
{
    Owned<STACK_OF(X509)> certificates{sk_X509_new_null()};
    Owned<X509_STORE> store{X509_STORE_new()};
};

// The certificates of the trusted directories into trust; the first error of
// the directories, naming what cannot be read and why, or empty. Only a
// directory that is not there at all holds no certificate.
QString loadTrusted(const QStringList &directories, Trust *trust);

// How a certificate is named to the operator: its common name, else its whole
// subject, never with a character that could break the line.
QString displayName(X509 *certificate);
// "2025-12-31", or "an unreadable date".
QString dateText(const ASN1_TIME *time);

} // namespace provenance
