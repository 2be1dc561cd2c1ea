#pragma once

#include "runphases.h"

#include <memory>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QLabel;
class RunSession;
struct RunOutcome;

// What assistive technology is told of an update run, at a person's pace.
// The status line shows every line the engine sends, one for every KiB moved;
// its accessible name is the run's stage instead ("Writing image 2 of 3,
// KERN"), changed once each time the stage changes, so that a screen reader
// reading the line hears where the run is, and one following it is not
// flooded. The end of a run (the done line or the error) is told at once as
// well, as a notification, which screen readers speak without waiting for the
// operator to look. Follows the window's run session.
class RunAnnouncer final : public QObject
{
    Q_OBJECT

public:
    RunAnnouncer(RunSession *session, QLabel *statusLine, QObject *parent);

    // For the run about to start, which writes images of these names in this
    // order: where the run is to say which image and stage it is at.
    std::shared_ptr<RunProgress> follow(const QStringList &imageNames);
    // Each status line of the run, before the line is shown.
    void lineShown(const QString &line);

private:
    // A stage as it is told; empty before the first image, where the run's own line is told.
    static QString stageText(RunProgress::Where where, const QStringList &imageNames);
    void runStarted();
    void runEnded(const RunOutcome &outcome);
    void tell(const QString &text);

    QLabel *statusLine;
    QStringList names;
    std::shared_ptr<RunProgress> progress;
    bool toldAny = false;
    RunProgress::Where told{0, RunStage::Starting};
    // The last run's end as a notification; a run's end is a new one, so
    // that no client takes the last one's words from its cache.
    QPointer<QObject> notice;
};
