#pragma once

#include "runoutcome.h"

#include <memory>
#include <QObject>
#include <QString>

// What the process knows of the update run: whether one is under way and how
// the last one ended. The program's run wiring tells it; the guards around a
// run (close refusal, inhibitor lock, deferred signals) and the views of its
// end follow it. Nothing here looks at a widget or reads a line's text.
class ReportPacer;

class RunSession final : public QObject
{
    Q_OBJECT

public:
    explicit RunSession(QObject *parent = nullptr);

    bool underWay() const { return running; }
    // The last run ended with the flash holding the confirmed update.
    bool succeeded() const { return last.succeeded(); }
    // A run has ended since the window opened, and not with the flash holding its update.
    bool lastRunFailed() const { return hasRun && !running && !last.succeeded(); }
    // How the last run ended, as the run itself told it.
    const RunOutcome &outcome() const { return last; }

    // Told by the run wiring, in the order the run goes. pacer, when the run
    // has one, learns of every total progress the program has shown.
    void start(std::shared_ptr<ReportPacer> pacer = nullptr);
    // How far the run has gone in all, in percent, each time the program has
    // shown it; said on when the whole percent changes.
    void noteProgress(int percent);
    // The run's own outcome, once its worker has finished.
    void finish(const RunOutcome &outcome);
    // Once the program has shown the end of the run: the guards hear of it.
    void announceEnd();

signals:
    void started();
    void progressed(int percent);
    void ended(const RunOutcome &outcome);

private:
    bool running = false;
    bool hasRun = false;
    int percent = 0;
    std::shared_ptr<ReportPacer> pacer;
    RunOutcome last;
};
