#pragma once

#include "processidentity.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// One update as the history keeps it: written when the run starts, before the
// flash is touched, and completed when it ends. An entry still "started" whose
// process is gone is an update a power cut or a kill cut short.
struct HistoryEntry
{
    struct Image
    {
        QString name;
        quint32 version = 0;
        quint32 address = 0;
        quint32 size = 0;
    };

    QString id; // the entry's file name, without its extension
    QDateTime started;
    qint64 durationMs = 0;
    QString user;
    qint64 pid = 0;
    // The boot it ran on and when its process started: the number alone may be another's.
    processidentity::Identity process;
    QString program; // "zarn-update-utility" or "zarn-update"
    QString file;
    QString sha256; // of the confirmed bytes
    QString signer; // empty when the file was not signed
    QList<Image> images;
    QString result; // "started", "succeeded" or "failed"
    // The checks the operator chose to pass over ("allow-older-hardware", "allow-downgrade", "ignore-power").
    QStringList overrides;
    // How the run ended, by kind (RunOutcome::kindName), whether it changed
    // the flash, and the cause of its failure; empty or false while it runs.
    QString outcome;
    bool flashTouched = false;
    QString cause;
    QString lastLine;
    // An update of the changed pages only: how its pages went; -1 for a full update.
    int pagesSkipped = -1;
    int pagesWritten = -1;
    int pagesProgrammed = -1;

    // The recovery copies, kept beside the entries: what the run writes (the
    // confirmed file, or a pre-image it puts back) and the pre-image, what the
    // flash held in every page the run erases, read before it was unlocked.
    struct Copy
    {
        QString file; // its name in the history's folder
        QString sha256;
        bool kept() const { return !file.isEmpty(); }
    };
    struct Page
    {
        quint64 address = 0;
        quint32 length = 0;
    };
    QString kind = QStringLiteral("update"); // "update", "resume" or "restore"
    Copy target;
    bool targetIsPreImage = false; // a restore, or a resume that finishes one
    Copy before;
    // The run's plan: every page of the flash it erases.
    QList<Page> erases;
    // Resume and restore: the entry whose update they finish or undo.
    QString follows;
    // The updates that never ended which this run leaves settled when it succeeds.
    QStringList settles;

    bool interrupted() const;
};

// The run history: one JSON file per update in the journal's history folder,
// each written whole to a temporary name, flushed and renamed into place, so
// that a power cut leaves either the entry before or the entry after.
class RunHistory
{
public:
    // The journal's, for every user (journal.h); entries are read from the
    // user's own folder of earlier releases as well.
    RunHistory();
    // Only directory, written as a user's own.
    explicit RunHistory(QString directory);

    const QString &directory() const { return dir; }
    // When the system's journal cannot be written: the line that says where the history goes instead.
    static QStringList journalNotes();

    // Makes or replaces name in the history's folder, whole: readable and
    // writable by the journal's group whatever the umask, file and folder
    // flushed. False, with the reason, when it cannot.
    bool createFile(const QString &name, const QByteArray &bytes, QString *error) const;
    // The history's folder, made as createFile makes it, for files written otherwise.
    bool makeFolder(QString *error) const;

    // Both write the entry and flush it to disk before they return; false,
    // with the reason, when they cannot.
    bool begin(HistoryEntry &entry, QString *error);
    bool finish(const HistoryEntry &entry, QString *error);

    // Oldest first. An entry that is not a regular file, is larger than any
    // entry this program writes, or is not a JSON object is passed over, and
    // passedOver, when given, gets a line naming it and why.
    QList<HistoryEntry> entries(QStringList *passedOver = nullptr) const;
    // One entry from its file's bytes; false when they are not a JSON object.
    // Whatever the object holds makes an entry: a field of the wrong type or
    // out of range is taken as missing.
    static bool readEntry(const QByteArray &bytes, HistoryEntry *entry);
    // Every update that never ended, oldest first, whatever the dates of the
    // others: a clock once set wrong can date a finished update after it.
    QList<HistoryEntry> unfinished(QStringList *passedOver = nullptr) const;
    // What the programs say as they start: each update that never ended, then
    // each entry passed over, since it may be one.
    QStringList notices() const;

    // The newest entry that ended verified with an image of name at address,
    // and that image; nullptr when there is none. entries: oldest first.
    static const HistoryEntry *lastVerified(const QList<HistoryEntry> &entries, const QString &name,
                                            quint32 address, HistoryEntry::Image *image);

    static QString describe(const HistoryEntry &entry);
    // The entry as its file holds it, the one form every reader of the history gets.
    static QJsonObject toJson(const HistoryEntry &entry);

private:
    bool write(const HistoryEntry &entry, QString *error);

    QString dir;
    bool shared = false;
    QStringList readFrom;
};
