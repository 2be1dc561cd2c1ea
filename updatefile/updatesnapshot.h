#pragma once

#include "imageheader.h"

#include <memory>
#include <mutex>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

class QFile;

// The bytes of an update file as they were when the operator confirmed them,
// kept in a sealed memory file: renaming another file over the name, rewriting,
// truncating or deleting the file on disk afterwards changes nothing here.
// Everything an update lists, writes and verifies comes from one snapshot.
class UpdateSnapshot
{
public:
    // Reads the file at path once. Never null: a file that cannot be read
    // gives a snapshot that says so.
    static std::shared_ptr<const UpdateSnapshot> capture(const QString &path);

    ~UpdateSnapshot();
    UpdateSnapshot(const UpdateSnapshot &) = delete;
    UpdateSnapshot &operator=(const UpdateSnapshot &) = delete;

    const QString &path() const { return filePath; }
    bool readable() const { return isReadable; }
    // The size of the file as it was found; for a file of 4 GiB or more,
    // which no update can be, only the size is kept.
    qint64 fileSize() const { return size; }
    bool holdsBytes() const { return isReadable && size < sizeLimit; }

    // A read-only handle of its own on the bytes, named by nothing (as a
    // QFile opened from a descriptor is); false when the snapshot holds none.
    bool open(QFile &file) const;

    // The check made before the flash is touched, the same for the window
    // before its confirmation and for the run: empty when the update may go
    // ahead, with its images listed and file open on the bytes; otherwise the
    // line that refuses it ("Error opening <path>", "Error in <path>: ...").
    QString refusal(QList<ImageHeader> *images, QFile &file) const;

    // The digest compute finds of the bytes, worked out the first time it is
    // asked for and kept: the bytes are sealed, so it holds for the
    // snapshot's life. One kind of digest only (its one caller's); a failed
    // computation (empty) is not kept.
    QByteArray digest(QByteArray (*compute)(const UpdateSnapshot &)) const;

    static constexpr qint64 sizeLimit = qint64(1) << 32;

private:
    UpdateSnapshot() = default;

    QString filePath;
    bool isReadable = false;
    qint64 size = 0;
    int memoryFile = -1;
    mutable std::mutex digestLock;
    mutable QByteArray knownDigest;
};
