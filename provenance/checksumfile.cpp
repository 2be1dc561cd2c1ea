#include "checksumfile.h"

#include <algorithm>

namespace checksumfile {

namespace {

constexpr int sha256HexLength = 64;

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

bool isHexDigest(const QByteArray &digest)
{
    return digest.size() == sha256HexLength && std::all_of(digest.begin(), digest.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

bool digestsFor(const QByteArray &listing, const QByteArray &fileName, QList<QByteArray> *digests,
                QString *problem)
{
    const QString notSha256sum = QStringLiteral(" is not in the format sha256sum writes");
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
        if (!isHexDigest(digest) || line.size() <= sha256HexLength + 2 || line.at(sha256HexLength) != ' ' ||
            (line.at(sha256HexLength + 1) != ' ' && line.at(sha256HexLength + 1) != '*')) {
            *problem = notSha256sum;
            return false;
        }
        QByteArray named = line.mid(sha256HexLength + 2);
        if (escaped)
            named = unescapedName(named);
        ++lines;
        onlyLine = digest;
        // Compared as bytes: two names that are not valid text may decode alike.
        if (named.mid(named.lastIndexOf('/') + 1) == fileName)
            digests->append(digest);
    }
    if (lines == 0) {
        *problem = notSha256sum;
        return false;
    }
    // A single line stands for the file it lies beside, whatever the file is called now.
    if (digests->isEmpty() && lines == 1)
        digests->append(onlyLine);
    if (digests->isEmpty()) {
        *problem = QStringLiteral(" holds no checksum of ") + QString::fromLocal8Bit(fileName);
        return false;
    }
    return true;
}

} // namespace checksumfile
