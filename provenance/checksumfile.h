#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A checksum file as sha256sum writes it: "<64 hex digits>  <name>" a line,
// "*" for binary mode, a leading backslash where the name is escaped.
// Device-free and file-free, so that it can be fuzzed alone.
namespace checksumfile {

// The digests (lower-case hex) that the listing gives for the file named
// fileName (its bytes, compared as bytes), added to digests, which the caller
// passes empty: every line that names it, or the only line when there is one. False, with the operator's
// reason after "checksum file <listingName>", when the listing is not sha256sum's or names no checksum of the
// file.
bool digestsFor(const QByteArray &listing, const QByteArray &fileName, QList<QByteArray> *digests,
                QString *problem);

} // namespace checksumfile
