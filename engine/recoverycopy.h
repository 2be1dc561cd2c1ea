#pragma once

#include "imageheader.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <vector>

class FlashHandle;
class QFile;
class UpdateSnapshot;
struct FlashFailure;

// The copies a run keeps in the journal before the flash is unlocked, so that
// an update cut short can be finished or undone without the file it came
// from: the bytes it writes, and what the flash holds in every page it will
// erase (the pre-image). Each is written to a temporary name, fsync'ed,
// renamed under its SHA-256 and its folder fsync'ed, before the run goes on.
namespace recoverycopy {

// One erase the update makes: 128 KiB from an image's page, cut at the end of
// the address space.
struct Page
{
    quint64 address;
    quint32 length;
};

// Every page a full update of images erases, each once, in address order.
std::vector<Page> erasedPages(const QList<ImageHeader> &images);

// The journal's room a run needs for both copies, in bytes.
quint64 roomNeeded(qint64 fileSize, const std::vector<Page> &pages);
// Empty when folder has room for needed bytes; otherwise what the operator is told.
QString roomRefusal(const QString &folder, quint64 needed);

// A copy as the history names it: its file in the folder and its SHA-256.
struct Kept
{
    QString file;
    QString sha256;
};

// Both copies into folder. False with *error set (the journal failed) or
// *flashFailure set (the flash could not be read).
bool write(const QString &folder, const UpdateSnapshot &snapshot, const FlashHandle &flash,
           const std::vector<Page> &pages, Kept *target, Kept *before, QString *error,
           FlashFailure *flashFailure);

// A pre-image's pages as a restore writes them: each page's bytes lie past a
// 32-byte record at its offset, as an image's lie past its header, so that
// the worker reads, writes and verifies them as it does an image's (its size
// counted with the record).
bool readPreImage(QFile &file, QList<ImageHeader> *pages, QString *error);

} // namespace recoverycopy
