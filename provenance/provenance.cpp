#include "provenance.h"

#include "updatefilereader.h"
#include "updatesnapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
// clang-format off
// cms.h declares its PEM reader only when pem.h came first.
#include <openssl/pem.h>
#include <openssl/cms.h>
// clang-format on
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <QByteArray>
#include <QCryptographicHash>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace provenance {

namespace {

const char *const signatureSuffix = ".p7s";
const char *const checksumSuffix = ".sha256";
// Far above any real signature, certificate bundle or checksum line, and small
// enough that a wrong file named like one is not read whole.
constexpr qint64 sideFileLimit = 1 << 20;
constexpr int sha256HexLength = 64;

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

// A name taken from a certificate goes into a message box and a status line:
// nothing in it may break the line or turn the text around it.
QString printable(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char('?');
    return shown;
}

QString displayName(X509 *certificate)
{
    X509_NAME *subject = X509_get_subject_name(certificate);
    const int at = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    if (at >= 0) {
        unsigned char *utf8 = nullptr;
        const int length =
            ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
        if (length > 0) {
            const QString name = QString::fromUtf8(reinterpret_cast<const char *>(utf8), length);
            OPENSSL_free(utf8);
            return printable(name);
        }
        OPENSSL_free(utf8);
    }
    Owned<BIO> text(BIO_new(BIO_s_mem()));
    if (subject && text &&
        X509_NAME_print_ex(text.get(), subject, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) > 0) {
        char *data = nullptr;
        const long length = BIO_get_mem_data(text.get(), &data);
        if (length > 0 && data)
            return printable(QString::fromUtf8(data, int(length)));
    }
    return QStringLiteral("a signer without a name");
}

QString dateText(const ASN1_TIME *time)
{
    struct tm parts = {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return QStringLiteral("an unreadable date");
    return QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday).toString(Qt::ISODate);
}

enum class SideState { Absent, Unreadable, Read };
struct SideFile
{
    SideState state = SideState::Absent;
    QByteArray bytes; // at most one byte past the limit, so that a larger file shows as such
};

SideFile readSideFile(const QString &path)
{
    SideFile side;
    struct stat status;
    // A dangling link is present: it was put there to be read.
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 && errno == ENOENT)
        return side;
    side.state = SideState::Unreadable;
    QFile file(path);
    if (!updatefilereader::openRegularFile(file))
        return side;
    side.bytes = file.read(sideFileLimit + 1);
    if (file.error() == QFileDevice::NoError)
        side.state = SideState::Read;
    return side;
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The names in a trusted directory that may hold certificates, as the bytes
// they are so that each opens again whatever its encoding. False, with the
// system's cause, when the directory cannot be listed: a listing cut short
// must not pass for a directory without certificates.
bool listTrusted(const QByteArray &directory, QList<QByteArray> *names, QString *cause)
{
    DIR *listing = ::opendir(directory.constData());
    if (!listing) {
        *cause = errorText(errno);
        return false;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(listing);
        if (!entry) {
            error = errno;
            break;
        }
        const QByteArray name(entry->d_name);
        const QByteArray lower = name.toLower();
        // Any case of the suffix, and never a hidden file, as always.
        if (!name.startsWith('.') && (lower.endsWith(".pem") || lower.endsWith(".crt")))
            names->append(name);
    }
    ::closedir(listing);
    if (error != 0) {
        *cause = errorText(error);
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

// The bytes of a trusted certificate file, at most one past the limit. False
// when it cannot be read, with the system's cause where there is one: a link
// to nothing, a directory, a file that may not be opened. A FIFO, socket or
// device named like a certificate has none, and is refused all the same.
bool readTrustedFile(const QByteArray &path, QByteArray *bytes, QString *cause)
{
    // Non-blocking, so that a FIFO cannot hold the check until someone writes to it.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *cause = errorText(errno);
        return false;
    }
    const auto fail = [fd, cause](int error) {
        if (error != 0)
            *cause = errorText(error);
        ::close(fd);
        return false;
    };
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return fail(errno);
    if (S_ISDIR(status.st_mode))
        return fail(EISDIR);
    if (!S_ISREG(status.st_mode))
        return fail(0);
    bytes->resize(int(sideFileLimit) + 1);
    int size = 0;
    while (size < bytes->size()) {
        const ssize_t got = ::read(fd, bytes->data() + size, size_t(bytes->size() - size));
        if (got < 0 && errno != EINTR)
            return fail(errno);
        if (got == 0)
            break;
        size += int(std::max<ssize_t>(got, 0));
    }
    ::close(fd);
    bytes->resize(size);
    return true;
}

// The first error of the trusted directories, or empty.
QString loadTrusted(const QStringList &directories, Trust *trust)
{
    if (!trust->certificates || !trust->store)
        return QStringLiteral("Error preparing the trusted certificates");
    // A site may trust its vendor's own certificate rather than the authority above it.
    if (X509_STORE_set_flags(trust->store.get(), X509_V_FLAG_PARTIAL_CHAIN) != 1)
        return QStringLiteral("Error preparing the trusted certificates");
    for (const QString &directory : directories) {
        const QString unreadableDirectory =
            QStringLiteral("Error reading the trusted certificates in ") + directory + QStringLiteral(": ");
        const QByteArray where = QFile::encodeName(directory);
        // Only a directory that is not there at all holds no certificate. A
        // link to nothing or to itself is there, and was put there to be read.
        struct stat status;
        if (::lstat(where.constData(), &status) != 0) {
            if (errno == ENOENT)
                continue;
            return unreadableDirectory + errorText(errno);
        }
        QList<QByteArray> names;
        QString cause;
        if (!listTrusted(where, &names, &cause))
            return unreadableDirectory + cause;
        for (const QByteArray &name : names) {
            const QByteArray path = where + (where.endsWith('/') ? "" : "/") + name;
            const QString unreadable =
                QStringLiteral("Error reading trusted certificate ") + QFile::decodeName(path);
            QByteArray pem;
            if (!readTrustedFile(path, &pem, &cause))
                return cause.isEmpty() ? unreadable : unreadable + QStringLiteral(": ") + cause;
            if (pem.size() > sideFileLimit)
                return unreadable;
            Owned<BIO> in(BIO_new_mem_buf(pem.constData(), int(pem.size())));
            if (!in)
                return unreadable;
            int found = 0;
            while (X509 *certificate = PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr)) {
                if (sk_X509_push(trust->certificates.get(), certificate) <= 0) {
                    X509_free(certificate);
                    return unreadable;
                }
                if (X509_STORE_add_cert(trust->store.get(), certificate) != 1)
                    return unreadable;
                ++found;
            }
            // The reading ends on "no start line" at the end of the text; any
            // other error is a certificate that could not be read.
            const unsigned long end = ERR_peek_last_error();
            ERR_clear_error();
            if (found == 0 || ERR_GET_LIB(end) != ERR_LIB_PEM || ERR_GET_REASON(end) != PEM_R_NO_START_LINE)
                return unreadable;
        }
    }
    return QString();
}

Owned<CMS_ContentInfo> parseSignature(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() > sideFileLimit)
        return nullptr;
    Owned<BIO> in(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
    if (!in)
        return nullptr;
    if (bytes.trimmed().startsWith("-----BEGIN"))
        return Owned<CMS_ContentInfo>(PEM_read_bio_CMS(in.get(), nullptr, nullptr, nullptr));
    return Owned<CMS_ContentInfo>(d2i_CMS_bio(in.get(), nullptr));
}

// Empty when the signer's certificate chains to a trusted one, is valid today
// and is marked for code signing; otherwise why not.
QString signerRefusal(X509 *signer, STACK_OF(X509) * carried, X509_STORE *store)
{
    Owned<X509_STORE_CTX> context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store, signer, carried) != 1)
        return QStringLiteral("the certificate of ") + displayName(signer) +
               QStringLiteral(" cannot be checked");
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
    // OpenSSL 3.0 knows no code-signing purpose: the mark is looked for here.
    // A certificate without the extension is not taken as marked for everything.
    const bool marked = (X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) != 0 &&
                        (X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) != 0;
    if (!marked)
        return QStringLiteral("the certificate of ") + displayName(signer) +
               QStringLiteral(" is not for code signing");
    return QString();
}

// Empty with *signer set when the signature verifies; otherwise why not.
QString signatureRefusal(const UpdateSnapshot &snapshot, const QByteArray &signatureBytes,
                         const QString &name, const Trust &trust, QString *signer)
{
    const QString signature = QStringLiteral("signature ") + name;
    const Owned<CMS_ContentInfo> cms = parseSignature(signatureBytes);
    if (!cms)
        return signature + QStringLiteral(" is not a CMS signature");
    if (CMS_is_detached(cms.get()) != 1)
        return signature + QStringLiteral(" carries a content of its own instead of signing the file");
    if (sk_X509_num(trust.certificates.get()) <= 0)
        return signature + QStringLiteral(" cannot be checked: no trusted certificate is installed");

    QFile bytes;
    if (!snapshot.open(bytes))
        return QStringLiteral("its bytes cannot be read again");
    Owned<BIO> content(BIO_new_fd(bytes.handle(), BIO_NOCLOSE));
    if (!content)
        return QStringLiteral("its bytes cannot be read again");
    // The chain is verified below, where its faults can be told apart; the
    // trusted certificates may also stand for a signer the signature leaves out.
    const unsigned int flags = CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY;
    if (CMS_verify(cms.get(), trust.certificates.get(), trust.store.get(), content.get(), nullptr, flags) !=
        1) {
        const unsigned long error = ERR_peek_last_error();
        if (ERR_GET_LIB(error) == ERR_LIB_CMS && ERR_GET_REASON(error) == CMS_R_SIGNER_CERTIFICATE_NOT_FOUND)
            return signature + QStringLiteral(" does not carry its signer's certificate");
        return signature + QStringLiteral(" does not match the file");
    }

    const BorrowedCertificates signers(CMS_get0_signers(cms.get()));
    const Owned<STACK_OF(X509)> carried(CMS_get1_certs(cms.get()));
    if (!signers || sk_X509_num(signers.get()) <= 0)
        return signature + QStringLiteral(" names no signer");
    for (int i = 0; i < sk_X509_num(signers.get()); ++i) {
        const QString refusal =
            signerRefusal(sk_X509_value(signers.get(), i), carried.get(), trust.store.get());
        if (!refusal.isEmpty())
            return refusal;
    }
    *signer = displayName(sk_X509_value(signers.get(), 0));
    return QString();
}

// sha256sum escapes a name holding a backslash or a line break, and marks
// the line with a leading backslash.
QByteArray unescapedName(const QByteArray &name)
{
    QByteArray plain;
    for (int i = 0; i < name.size(); ++i) {
        if (name.at(i) == '\\' && i + 1 < name.size()) {
            ++i;
            plain += name.at(i) == 'n' ? '\n' : name.at(i);
        } else {
            plain += name.at(i);
        }
    }
    return plain;
}

// Empty when the checksum file holds the snapshot's SHA-256; otherwise why not.
QString checksumRefusal(const UpdateSnapshot &snapshot, const QByteArray &listing, const QString &name)
{
    const QString checksums = QStringLiteral("checksum file ") + name;
    const QString notSha256sum = checksums + QStringLiteral(" is not in the format sha256sum writes");
    if (listing.size() > sideFileLimit)
        return notSha256sum;
    const QString fileName = QFileInfo(snapshot.path()).fileName();
    const QByteArray fileNameBytes = QFile::encodeName(fileName);
    QList<QByteArray> expected; // from every line that names the file
    QByteArray onlyLine;
    int lines = 0;
    for (QByteArray line : listing.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const bool escaped = line.startsWith('\\');
        if (escaped)
            line.remove(0, 1);
        const QByteArray digest = line.left(sha256HexLength).toLower();
        const bool hex = digest.size() == sha256HexLength &&
                         std::all_of(digest.begin(), digest.end(),
                                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
        if (!hex || line.size() <= sha256HexLength + 2 || line.at(sha256HexLength) != ' ' ||
            (line.at(sha256HexLength + 1) != ' ' && line.at(sha256HexLength + 1) != '*'))
            return notSha256sum;
        QByteArray named = line.mid(sha256HexLength + 2);
        if (escaped)
            named = unescapedName(named);
        ++lines;
        onlyLine = digest;
        // Compared as bytes: two names that are not valid text may decode alike.
        if (named.mid(named.lastIndexOf('/') + 1) == fileNameBytes)
            expected << digest;
    }
    if (lines == 0)
        return notSha256sum;
    // A single line stands for the file it lies beside, whatever the file is called now.
    if (expected.isEmpty() && lines == 1)
        expected << onlyLine;
    if (expected.isEmpty())
        return checksums + QStringLiteral(" holds no checksum of ") + fileName;

    QFile bytes;
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    if (!snapshot.open(bytes) || !sha256.addData(&bytes))
        return QStringLiteral("its bytes cannot be read again");
    // As sha256sum -c fails on any line for the file that does not match, a
    // right line elsewhere in the file does not make up for a wrong one.
    const QByteArray actual = sha256.result().toHex();
    if (std::any_of(expected.begin(), expected.end(),
                    [&](const QByteArray &digest) { return digest != actual; }))
        return QStringLiteral("its SHA-256 checksum differs from the one in ") + name;
    return QString();
}

} // namespace

QStringList defaultTrustedDirectories()
{
    return {QStringLiteral("/etc/zarn-update-utility/trusted"),
            QStringLiteral("/usr/share/zarn-update-utility/trusted")};
}

Verdict check(const UpdateSnapshot &snapshot, const QStringList &trustedDirectories)
{
    const ErrorQueueScope errors;
    const QString path = snapshot.path();
    const QString prefix = QStringLiteral("Error in ") + path + QStringLiteral(": ");
    const QString fileName = QFileInfo(path).fileName();
    Verdict verdict;

    Trust trust;
    verdict.refusal = loadTrusted(trustedDirectories, &trust);
    if (!verdict.accepted())
        return verdict;

    const QString signatureName = fileName + QLatin1String(signatureSuffix);
    const SideFile signature = readSideFile(path + QLatin1String(signatureSuffix));
    QString signer;
    if (signature.state == SideState::Unreadable) {
        verdict.refusal =
            prefix + QStringLiteral("signature ") + signatureName + QStringLiteral(" cannot be read");
        return verdict;
    }
    if (signature.state == SideState::Read) {
        const QString refusal = signatureRefusal(snapshot, signature.bytes, signatureName, trust, &signer);
        if (!refusal.isEmpty()) {
            verdict.refusal = prefix + refusal;
            return verdict;
        }
    } else if (sk_X509_num(trust.certificates.get()) > 0) {
        verdict.refusal =
            prefix +
            QStringLiteral("not signed, and only files signed by a trusted certificate are accepted");
        return verdict;
    }

    const QString checksumName = fileName + QLatin1String(checksumSuffix);
    const SideFile checksum = readSideFile(path + QLatin1String(checksumSuffix));
    if (checksum.state == SideState::Unreadable) {
        verdict.refusal =
            prefix + QStringLiteral("checksum file ") + checksumName + QStringLiteral(" cannot be read");
        return verdict;
    }
    if (checksum.state == SideState::Read) {
        const QString refusal = checksumRefusal(snapshot, checksum.bytes, checksumName);
        if (!refusal.isEmpty()) {
            verdict.refusal = prefix + refusal;
            return verdict;
        }
    }

    verdict.signer = signer;
    if (!signer.isEmpty())
        verdict.origin = QStringLiteral("Signed by ") + signer;
    else if (checksum.state == SideState::Read)
        verdict.origin = QStringLiteral("Checksum verified");
    else
        verdict.origin = QStringLiteral("Not signed");
    return verdict;
}

} // namespace provenance
