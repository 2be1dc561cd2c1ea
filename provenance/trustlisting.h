#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the trusted folders hold, as zarn-update trust shows it.
namespace provenance {

struct Trust;

struct CertificateListing
{
    QString file;
    QString subject; // the whole name, one line
    QString issuer;
    QString serial;
    QString notBefore; // "2026-01-01", or "an unreadable date"
    QString notAfter;
    bool datesRead = false;
    qint64 daysLeft = 0; // to notAfter, from today (UTC); negative once expired
    bool codeSigning = false;
    bool authority = false;
};

struct RevocationListing
{
    QString file;
    QString issuer;
    QString lastUpdate;
    QString nextUpdate;   // empty when the list gives none
    bool overdue = false; // its next update has passed; it is used all the same
    int revoked = 0;
    // A trusted certificate of the issuer's name, and one whose key signed it.
    bool issuerInstalled = false;
    bool signatureVerified = false;
    // Why it refuses every update file, as the check says it; empty when it does not.
    QString refusal;
};

struct TrustListing
{
    QList<CertificateListing> certificates;
    QList<RevocationListing> lists;
    // The line that refuses every update file, as the check says it; what was
    // read before it is listed.
    QString problem;
};

TrustListing describeTrust(const QStringList &directories);
// What trust holds, in the order it was read.
TrustListing describe(const Trust &trust);

} // namespace provenance
