#include "trust.h"

#include "revocation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <sys/stat.h>
#include <unistd.h>

namespace provenance {

namespace {

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

} // namespace

QString nameText(const X509_NAME *name)
{
    Owned<BIO> text(BIO_new(BIO_s_mem()));
    if (name && text &&
        X509_NAME_print_ex(text.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) > 0) {
        char *data = nullptr;
        const long length = BIO_get_mem_data(text.get(), &data);
        if (length > 0 && data)
            return printable(QString::fromUtf8(data, int(length)));
    }
    return QString();
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
    const QString whole = nameText(subject);
    return whole.isEmpty() ? QStringLiteral("a signer without a name") : whole;
}

QDate dateOf(const ASN1_TIME *time)
{
    struct tm parts = {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return QDate();
    return QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
}

QString dateText(const ASN1_TIME *time)
{
    const QDate date = dateOf(time);
    return date.isValid() ? date.toString(Qt::ISODate) : QStringLiteral("an unreadable date");
}

bool daysLeft(const ASN1_TIME *time, qint64 *days)
{
    const QDate date = dateOf(time);
    if (!date.isValid())
        return false;
    *days = QDateTime::currentDateTimeUtc().date().daysTo(date);
    return true;
}

QString serialText(const ASN1_INTEGER *serial)
{
    const std::unique_ptr<BIGNUM, void (*)(BIGNUM *)> number(ASN1_INTEGER_to_BN(serial, nullptr), BN_free);
    char *hex = number ? BN_bn2hex(number.get()) : nullptr;
    const QString text = hex ? QString::fromLatin1(hex) : QStringLiteral("unreadable");
    OPENSSL_free(hex);
    return text;
}

bool signsCode(X509 *certificate)
{
    return (X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) != 0 &&
           (X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN) != 0;
}

namespace {

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
        if (!name.startsWith('.') &&
            (lower.endsWith(".pem") || lower.endsWith(".crt") || lower.endsWith(".crl")))
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

// Why a file of size bytes is not read, beside its kind's limit.
QString tooLarge(qint64 size, bool isList)
{
    return isList ? QStringLiteral("%1 bytes, more than the %2 a revocation list may have")
                        .arg(size)
                        .arg(revocationListLimit)
                  : QStringLiteral("%1 bytes, more than the %2 a trusted certificate file may have")
                        .arg(size)
                        .arg(sideFileLimit);
}

// The bytes of a trusted certificate or list file. False when it cannot be
// read, with the system's cause where there is one (a link to nothing, a
// directory, a file that may not be opened) and ours where not: a FIFO,
// socket or device named like a certificate, which could block the check or
// never end, and a file past its kind's limit, which is not read at all.
bool readTrustedFile(const QByteArray &path, bool isList, QByteArray *bytes, QString *cause)
{
    // Non-blocking, so that a FIFO cannot hold the check until someone writes to it.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *cause = errorText(errno);
        return false;
    }
    const auto fail = [fd, cause](const QString &why) {
        *cause = why;
        ::close(fd);
        return false;
    };
    const qint64 limit = isList ? revocationListLimit : sideFileLimit;
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return fail(errorText(errno));
    if (S_ISDIR(status.st_mode))
        return fail(errorText(EISDIR));
    if (!S_ISREG(status.st_mode))
        return fail(QStringLiteral("not a regular file"));
    if (status.st_size > limit)
        return fail(tooLarge(status.st_size, isList));
    // One byte more than it said, to see it grow while it is read.
    bytes->resize(int(status.st_size) + 1);
    int size = 0;
    while (size < bytes->size()) {
        const ssize_t got = ::read(fd, bytes->data() + size, size_t(bytes->size() - size));
        if (got < 0 && errno != EINTR)
            return fail(errorText(errno));
        if (got == 0)
            break;
        size += int(std::max<ssize_t>(got, 0));
        if (size == bytes->size() && size <= limit)
            bytes->resize(int(std::min<qint64>(qint64(size) * 2, limit + 1)));
    }
    ::close(fd);
    bytes->resize(size);
    if (size > limit)
        return fail(tooLarge(size, isList));
    return true;
}

// The reading of PEM ends on "no start line" at the end of the text; any
// other error is an item that could not be read.
bool readToTheEnd(int found)
{
    const unsigned long end = ERR_peek_last_error();
    ERR_clear_error();
    return found > 0 && ERR_GET_LIB(end) == ERR_LIB_PEM && ERR_GET_REASON(end) == PEM_R_NO_START_LINE;
}

bool keepList(X509_CRL *list, const QString &path, Trust *trust)
{
    if (sk_X509_CRL_push(trust->lists.get(), list) <= 0) {
        X509_CRL_free(list);
        return false;
    }
    trust->listFiles.append(path);
    return true;
}

} // namespace

QString addCertificates(const QByteArray &bytes, const QString &path, Trust *trust)
{
    const QString unreadable = QStringLiteral("Error reading trusted certificate ") + path;
    if (bytes.size() > sideFileLimit)
        return unreadable + QStringLiteral(": ") + tooLarge(bytes.size(), false);
    Owned<BIO> in(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
    if (!in)
        return unreadable;
    ERR_clear_error();
    int found = 0;
    while (X509 *certificate = PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr)) {
        if (sk_X509_push(trust->certificates.get(), certificate) <= 0) {
            X509_free(certificate);
            return unreadable;
        }
        trust->certificateFiles.append(path);
        if (X509_STORE_add_cert(trust->store.get(), certificate) != 1)
            return unreadable;
        ++found;
    }
    return readToTheEnd(found) ? QString() : unreadable;
}

QString addRevocationLists(const QByteArray &bytes, const QString &path, Trust *trust)
{
    const QString unreadable = QStringLiteral("Error reading revocation list ") + path;
    if (bytes.size() > revocationListLimit)
        return unreadable + QStringLiteral(": ") + tooLarge(bytes.size(), true);
    if (bytes.isEmpty())
        return unreadable;
    ERR_clear_error();
    // As the openssl command writes them: PEM, perhaps after the list as text, or DER.
    if (bytes.contains("-----BEGIN ")) {
        Owned<BIO> in(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
        if (!in)
            return unreadable;
        int found = 0;
        while (X509_CRL *list = PEM_read_bio_X509_CRL(in.get(), nullptr, nullptr, nullptr)) {
            if (!keepList(list, path, trust))
                return unreadable;
            ++found;
        }
        return readToTheEnd(found) ? QString() : unreadable;
    }
    const unsigned char *at = reinterpret_cast<const unsigned char *>(bytes.constData());
    X509_CRL *list = d2i_X509_CRL(nullptr, &at, long(bytes.size()));
    // A list followed by anything is not the file a site meant to install.
    if (!list || at != reinterpret_cast<const unsigned char *>(bytes.constData()) + bytes.size()) {
        X509_CRL_free(list);
        ERR_clear_error();
        return unreadable;
    }
    return keepList(list, path, trust) ? QString() : unreadable;
}

QString loadTrusted(const QStringList &directories, Trust *trust)
{
    if (!trust->certificates || !trust->store || !trust->lists)
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
            const bool isList = name.toLower().endsWith(".crl");
            QByteArray bytes;
            if (!readTrustedFile(path, isList, &bytes, &cause))
                return (isList ? QStringLiteral("Error reading revocation list ")
                               : QStringLiteral("Error reading trusted certificate ")) +
                       QFile::decodeName(path) + QStringLiteral(": ") + cause;
            const QString refusal = isList ? addRevocationLists(bytes, QFile::decodeName(path), trust)
                                           : addCertificates(bytes, QFile::decodeName(path), trust);
            if (!refusal.isEmpty())
                return refusal;
        }
    }
    return listsRefusal(*trust);
}

} // namespace provenance
