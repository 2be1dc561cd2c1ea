#include "cliout.h"
#include "commands.h"
#include "exitcodes.h"
#include "trustlisting.h"

#include <QFileInfo>
#include <QJsonObject>

namespace commands {

namespace {

QString validity(const provenance::CertificateListing &certificate)
{
    const QString dates = certificate.notBefore + QStringLiteral(" to ") + certificate.notAfter;
    if (!certificate.datesRead)
        return dates;
    if (certificate.daysLeft < 0)
        return dates + QStringLiteral(", expired %1 days ago").arg(-certificate.daysLeft);
    return dates + QStringLiteral(", %1 days left").arg(certificate.daysLeft);
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

void printCertificate(const provenance::CertificateListing &certificate, CliOutput &out)
{
    if (out.mode() == CliOutput::Mode::Json) {
        QJsonObject event{{"event", "certificate"},
                          {"file", certificate.file},
                          {"subject", certificate.subject},
                          {"issuer", certificate.issuer},
                          {"serial", certificate.serial},
                          {"notBefore", certificate.notBefore},
                          {"notAfter", certificate.notAfter},
                          {"codeSigning", certificate.codeSigning},
                          {"authority", certificate.authority}};
        if (certificate.datesRead)
            event.insert(QStringLiteral("daysLeft"), certificate.daysLeft);
        out.event(event);
        return;
    }
    out.line(QStringLiteral("Certificate ") + certificate.file);
    out.line(QStringLiteral("  subject       ") + certificate.subject);
    out.line(QStringLiteral("  issuer        ") + certificate.issuer);
    out.line(QStringLiteral("  serial        ") + certificate.serial);
    out.line(QStringLiteral("  valid         ") + validity(certificate));
    out.line(QStringLiteral("  code signing  ") + yesNo(certificate.codeSigning));
    out.line(QStringLiteral("  authority     ") + yesNo(certificate.authority));
}

void printList(const provenance::RevocationListing &list, CliOutput &out)
{
    if (out.mode() == CliOutput::Mode::Json) {
        out.event({{"event", "revocationList"},
                   {"file", list.file},
                   {"issuer", list.issuer},
                   {"lastUpdate", list.lastUpdate},
                   {"nextUpdate", list.nextUpdate},
                   {"overdue", list.overdue},
                   {"revoked", list.revoked},
                   {"issuerInstalled", list.issuerInstalled},
                   {"signatureVerified", list.signatureVerified},
                   {"refusal", list.refusal}});
        return;
    }
    out.line(QStringLiteral("Revocation list ") + list.file);
    out.line(QStringLiteral("  issuer        ") + list.issuer +
             (!list.issuerInstalled    ? QStringLiteral(" (not installed)")
              : list.signatureVerified ? QStringLiteral(" (installed, its signature verifies)")
                                       : QStringLiteral(" (installed, but the signature does not verify)")));
    out.line(QStringLiteral("  updated       ") + list.lastUpdate +
             (list.nextUpdate.isEmpty() ? QStringLiteral(", no next update given")
                                        : QStringLiteral(", next update ") + list.nextUpdate +
                                              (list.overdue ? QStringLiteral(" (passed; still used)") : "")));
    out.line(QStringLiteral("  revoked       %1 certificate%2")
                 .arg(list.revoked)
                 .arg(list.revoked == 1 ? "" : "s"));
    if (!list.refusal.isEmpty())
        out.line(QStringLiteral("  refuses       every update file: ") + list.refusal);
}

} // namespace

int trust(const QStringList &directories, CliOutput &out)
{
    for (const QString &directory : directories)
        if (!QFileInfo::exists(directory)) {
            out.error(directory + QStringLiteral(" does not exist"));
            return exitcode::usage;
        }
    const QStringList folders = directories.isEmpty() ? provenance::defaultTrustedDirectories() : directories;
    const provenance::TrustListing listing = provenance::describeTrust(folders);
    for (const provenance::CertificateListing &certificate : listing.certificates)
        printCertificate(certificate, out);
    for (const provenance::RevocationListing &list : listing.lists)
        printList(list, out);
    if (!listing.problem.isEmpty()) {
        out.error(listing.problem);
        return exitcode::refusedSignature;
    }
    if (listing.certificates.isEmpty() && out.mode() != CliOutput::Mode::Json)
        out.line(QStringLiteral("No trusted certificate in ") + folders.join(QStringLiteral(", ")) +
                 QStringLiteral(": unsigned update files are accepted"));
    return exitcode::success;
}

} // namespace commands
