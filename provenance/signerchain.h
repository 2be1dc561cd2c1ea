#pragma once

#include "trust.h"

#include <QString>

namespace provenance {

// A certificate of the signer's chain that expires within as many days is warned of.
inline constexpr qint64 expiryWarningDays = 30;

// Empty when the signer's certificate chains to a trusted one, is valid today
// and is marked for code signing, and no installed revocation list withdraws
// it or a certificate above it; otherwise why not. A certificate whose issuer
// has no list is checked as without lists; one with several is revoked when
// any of them names it. A list past its next update, or not yet in force,
// still withdraws what it names: a system without a network cannot fetch a
// newer one, its clock may be behind, and the site's folder is what vouches
// for it. A list that concerns the chain but cannot be checked (its issuer's
// certificate neither installed nor carried, a wrong signature, an issuer not
// for signing lists) refuses the file.
// An accepted signer's warning names the certificate of its chain that
// expires first, when it does so within expiryWarningDays.
QString signerRefusal(X509 *signer, STACK_OF(X509) * carried, const Trust &trust, QString *warning);

} // namespace provenance
