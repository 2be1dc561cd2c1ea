#pragma once

#include <functional>
#include <memory>
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
    QString program; // "zarn-update-utility" or "zarn-update"
    QString file;
    QString sha256; // of the confirmed bytes
    QString signer; // empty when the file was not signed
    QList<Image> images;
    QString result; // "started", "succeeded" or "failed"
    // The checks the operator chose to pass over ("allow-older-hardware", "ignore-power").
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

    bool interrupted() const;
};

// The run history: one JSON file per update in a directory of its own, each
// written whole to a temporary name, flushed and renamed into place, so that
// a power cut leaves either the entry before or the entry after.
class RunHistory
{
public:
    // $XDG_STATE_HOME (or ~/.local/state)/zarn-update-utility/history; for
    // root without XDG_STATE_HOME, /var/lib/zarn-update-utility/history.
    static QString defaultDirectory();

    explicit RunHistory(QString directory = defaultDirectory());

    const QString &directory() const { return dir; }

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

    static QString describe(const HistoryEntry &entry);
    // The entry as its file holds it, the one form every reader of the history gets.
    static QJsonObject toJson(const HistoryEntry &entry);

private:
    bool write(const HistoryEntry &entry, QString *error);

    QString dir;
};

struct ImageHeader;
struct RunOutcome;

// Writes the history of the runs of the program that sets it on its workers:
// the entry when the run is about to touch the flash, completed when the run
// ends, however it ends. A history that cannot be written never stops an
// update: the outcome says why it is missing, and the program is told at once.
class RunRecorder
{
public:
    RunRecorder(RunHistory history, QString program);

    // Set before the run starts: who signed the confirmed file, if anyone.
    void setSigner(const QString &signer) { currentSigner = signer; }
    void setOverrides(const QStringList &overrides) { currentOverrides = overrides; }
    // Set before the run starts: called on the run's thread, with the cause,
    // when the run's entry cannot be written.
    void setUnrecordedHandler(std::function<void(const QString &cause)> handler)
    {
        unrecorded = std::move(handler);
    }

    // An entry under way; completing it is its destruction.
    class Recording
    {
    public:
        ~Recording();
        Recording(const Recording &) = delete;
        Recording &operator=(const Recording &) = delete;

    private:
        friend class RunRecorder;
        Recording(RunRecorder &recorder, HistoryEntry entry, RunOutcome &outcome);

        RunRecorder &recorder;
        HistoryEntry entry;
        RunOutcome &outcome;
        qint64 startedMs;
    };

    // On the worker's thread, once the run has its images and holds the flash.
    // The entry is completed from outcome, the run's own, when the recording
    // ends; outcome learns of an entry that could not be written.
    std::unique_ptr<Recording> begin(RunOutcome &outcome, const QString &file, const QString &sha256,
                                     const QList<ImageHeader> &images);

private:
    void notRecorded(RunOutcome &outcome, const QString &error) const;

    RunHistory history;
    QString program;
    QString currentSigner;
    QStringList currentOverrides;
    std::function<void(const QString &cause)> unrecorded;
};
