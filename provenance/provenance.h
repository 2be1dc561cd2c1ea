#pragma once

#include <QString>
#include <QStringList>

class UpdateSnapshot;

// Where an update file comes from. The format itself holds nothing that
// vouches for the bytes (no checksum, not even the length of the last image),
// so a file reaches the flash on the word of what lies beside it: a detached
// CMS signature "<file>.p7s" (DER or PEM) checked against the certificates a
// site trusts, and a checksum "<file>.sha256" as sha256sum writes it. Both are
// checked over the snapshot's bytes, never the file on disk, so that what was
// judged is what is flashed. Nothing here goes to the network.
namespace provenance {

// The site's own certificates, then those shipped with the utility.
QStringList defaultTrustedDirectories();

struct Verdict
{
    // Empty when the file may go ahead; otherwise the operator's line that
    // refuses it, naming the file.
    QString refusal;
    // For an accepted file, what the operator is told of its origin:
    // "Signed by <name>", "Checksum verified" or "Not signed".
    QString origin;
    // The signer's name for a signed file; empty otherwise.
    QString signer;
    // For an accepted signed file, what the operator should act on before it
    // is refused: "the certificate of <name> expires on <date>, in <n> days"
    // when a certificate of the signer's chain expires within 30 days.
    QString warning;

    bool accepted() const { return refusal.isEmpty(); }
};

// The trusted certificates are the PEM files (*.pem, *.crt) in the
// directories; each may hold several, and any of them may anchor a chain.
// Revocation lists (*.crl, PEM or DER) beside them withdraw the certificates
// they name, a signer's or an authority's above it, each list of an issuer
// whatever its dates (revocation.h); an authority without a list is trusted
// as before, and a list whose issuer no chain reaches has nothing to
// withdraw. A list that cannot be checked or applied refuses every file.
// Once any is installed, only a file signed by a certificate that one of them
// vouches for, valid today and marked for code signing, is accepted; with
// none, an unsigned file is accepted as it always was. A signature or checksum
// that is present but does not verify refuses the file whatever the rest says.
// Only a directory that is not there at all holds no certificate. Anything
// there that cannot be read refuses every file, naming it and, where the
// system gives one, the cause: the directory a link to nothing or to itself,
// or one that cannot be listed; a file named like a certificate or a list that
// is a link to nothing, a directory, not a regular file (a FIFO, a device),
// past its limit, unreadable or without a certificate or a list. A site
// that installed a certificate must not find its files taken unsigned.
// Every line of the checksum file that names the file must hold its SHA-256,
// as sha256sum -c would have it; a file of one line stands for the file it
// lies beside, whatever name it gives.
Verdict check(const UpdateSnapshot &snapshot,
              const QStringList &trustedDirectories = defaultTrustedDirectories());

} // namespace provenance
