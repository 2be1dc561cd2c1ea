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
#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The certificates a site trusts and the lists that withdraw them, as OpenSSL
// holds them, and the names and dates of certificates as the operator reads them.
namespace provenance {

// Far above any real signature, certificate bundle or checksum line, and small
// enough that a wrong file named like one is not read whole.
inline constexpr qint64 sideFileLimit = 1 << 20;
// Real authorities publish lists of several MiB (some 40 bytes an entry); a
// list of 16 MiB holds some 400,000 revocations.
inline constexpr qint64 revocationListLimit = 16 << 20;

struct OpenSslFree
{
    void operator()(BIO *bio) const { BIO_free_all(bio); }
    void operator()(X509_STORE *store) const { X509_STORE_free(store); }
    void operator()(X509_STORE_CTX *context) const { X509_STORE_CTX_free(context); }
    void operator()(CMS_ContentInfo *cms) const { CMS_ContentInfo_free(cms); }
    void operator()(STACK_OF(X509) * certificates) const { sk_X509_pop_free(certificates, X509_free); }
    void operator()(X509_CRL *list) const { X509_CRL_free(list); }
    void operator()(STACK_OF(X509_CRL) * lists) const { sk_X509_CRL_pop_free(lists, X509_CRL_free); }
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
    // The revocation lists, all of them, kept out of the store: OpenSSL would
    // take one list per issuer (revocation.h). A list is used only for the
    // certificates its issuer signed.
    Owned<STACK_OF(X509_CRL)> lists{sk_X509_CRL_new_null()};
    // The file each certificate and each list came from, in the same order.
    QStringList certificateFiles;
    QStringList listFiles;
};

// The certificates (*.pem, *.crt) and revocation lists (*.crl) of the trusted
// directories into trust; the first error of the directories, naming what
// cannot be read and why, or empty. Only a directory that is not there at all
// holds nothing. A file is read only when it is a regular file within its
// limit (sideFileLimit for certificates, revocationListLimit for lists). Then
// the first list that refuses every update file (revocation.h), if any.
QString loadTrusted(const QStringList &directories, Trust *trust);

// One file's bytes into trust: its PEM certificates, or its revocation lists
// (PEM, or a single DER list). Empty, or the line that refuses every file,
// naming path, when the bytes hold nothing of the kind or anything else, or
// more than the limit of their kind.
QString addCertificates(const QByteArray &bytes, const QString &path, Trust *trust);
QString addRevocationLists(const QByteArray &bytes, const QString &path, Trust *trust);

// How a certificate is named to the operator: its common name, else its whole
// subject, never with a character that could break the line.
QString displayName(X509 *certificate);
// "2025-12-31", or "an unreadable date".
QString dateText(const ASN1_TIME *time);
// The day of a certificate's or a list's time, in UTC as its dates are given;
// invalid when the time cannot be read.
QDate dateOf(const ASN1_TIME *time);
// The days from today (UTC) to that day: 0 on the day itself, negative after it.
bool daysLeft(const ASN1_TIME *time, qint64 *days);
// A serial number as the openssl command prints it: "03", "1A2B".
QString serialText(const ASN1_INTEGER *serial);
// A whole name, one line, as "CN=Vendor Signing,O=Vendor".
QString nameText(const X509_NAME *name);
// Marked for code signing by its extended key usage. OpenSSL 3.0 knows no
// code-signing purpose, and a certificate without the extension is not taken
// as marked for everything.
bool signsCode(X509 *certificate);

} // namespace provenance
