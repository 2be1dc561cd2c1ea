#pragma once

#include "trust.h"

#include <QString>

// Whether the revocation lists of the trusted folders can be applied, and
// what they withdraw from a verified chain. An authority may have several
// lists installed at once (a long current one, an emergency one, one issued
// a little ahead of this system's clock): a certificate named in any of them
// is revoked, whatever their dates and whatever order they were read in.
namespace provenance {

// Why the list at index refuses every update file, or empty: it cannot be
// applied as the whole list of its issuer (a delta, a partial scope, a
// critical extension this check does not know, dates that cannot be read),
// or a trusted certificate of its issuer's name is installed and none of them
// verifies it. A list whose issuer is not installed is judged only by the
// chains it concerns.
QString listFault(const Trust &trust, int index);

// "Error checking revocation list <file>: <why>" for the first list of trust
// that refuses every update file; empty when none does.
QString listsRefusal(const Trust &trust);

// Empty when no certificate of chain (verified, the signer first) is named in
// an installed list of its issuer; otherwise the line that refuses the file:
// the certificate that was revoked, or the list that concerns the chain but
// cannot be checked against the issuer's certificate (neither in the chain,
// nor installed, nor carried by the signature).
QString chainRevocation(const STACK_OF(X509) * chain, STACK_OF(X509) * carried, const Trust &trust);

} // namespace provenance
