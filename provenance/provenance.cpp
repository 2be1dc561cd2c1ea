#include "provenance.h"

#include "checksumfile.h"
#include "digest.h"
#include "signerchain.h"
#include "trust.h"
#include "updatefilereader.h"
#include "updatesnapshot.h"

#include <algorithm>
#include <cerrno>
#include <openssl/bio.h>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace provenance {

namespace {

const char *const signatureSuffix = ".p7s";
const char *const checksumSuffix = ".sha256";

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

// Empty with *signer (and any warning of its chain) set when the signature
// verifies; otherwise why not.
QString signatureRefusal(const UpdateSnapshot &snapshot, const QByteArray &signatureBytes,
                         const QString &name, const Trust &trust, QString *signer, QString *warning)
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
        QString expiring;
        const QString refusal =
            signerRefusal(sk_X509_value(signers.get(), i), carried.get(), trust, &expiring);
        if (!refusal.isEmpty())
            return refusal;
        if (warning->isEmpty())
            *warning = expiring;
    }
    *signer = displayName(sk_X509_value(signers.get(), 0));
    return QString();
}

// Empty when the checksum file holds the snapshot's SHA-256; otherwise why not.
QString checksumRefusal(const UpdateSnapshot &snapshot, const QByteArray &listing, const QString &name)
{
    const QString checksums = QStringLiteral("checksum file ") + name;
    if (listing.size() > sideFileLimit)
        return checksums + QStringLiteral(" is not in the format sha256sum writes");
    QList<QByteArray> expected;
    QString problem;
    if (!checksumfile::digestsFor(listing, QFile::encodeName(QFileInfo(snapshot.path()).fileName()),
                                  &expected, &problem))
        return checksums + problem;

    const QByteArray actual = sha256(snapshot);
    if (actual.isEmpty())
        return QStringLiteral("its bytes cannot be read again");
    // As sha256sum -c fails on any line for the file that does not match, a
    // right line elsewhere in the file does not make up for a wrong one.
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
    QString warning;
    if (signature.state == SideState::Unreadable) {
        verdict.refusal =
            prefix + QStringLiteral("signature ") + signatureName + QStringLiteral(" cannot be read");
        return verdict;
    }
    if (signature.state == SideState::Read) {
        const QString refusal =
            signatureRefusal(snapshot, signature.bytes, signatureName, trust, &signer, &warning);
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
    verdict.warning = warning;
    if (!signer.isEmpty())
        verdict.origin = QStringLiteral("Signed by ") + signer;
    else if (checksum.state == SideState::Read)
        verdict.origin = QStringLiteral("Checksum verified");
    else
        verdict.origin = QStringLiteral("Not signed");
    return verdict;
}

} // namespace provenance
