#include "trust.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <openssl/bio.h>
#include <QByteArray>
#include <QDate>
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

} // namespace

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

} // namespace provenance
