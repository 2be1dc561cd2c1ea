#pragma once

#include <QObject>
#include <QString>

// What the process knows of the update run: whether one is under way and how
// the last one ended. The window's run wiring tells it; the guards around a
// run (close refusal, inhibitor lock, deferred signals) follow it. Nothing
// here looks at a widget.
class RunSession final : public QObject
{
    Q_OBJECT

public:
    explicit RunSession(QObject *parent = nullptr);

    bool underWay() const { return running; }
    // The last run ended with the flash holding the confirmed update.
    bool succeeded() const { return lastSucceeded; }
    // A run has ended since the window opened, and not with the flash holding its update.
    bool lastRunFailed() const { return hasRun && !running && !lastSucceeded; }
    // The last status line of the last run.
    QString lastLine() const { return lastStatus; }

    // Told by the run wiring, in the order the run goes.
    void start();
    void noteStatus(const QString &line);
    // Success is the worker's own word: it sends the done line last only
    // when the flash holds the confirmed update.
    void finish();
    // Once the window has shown the end of the run: the guards hear of it.
    void announceEnd();

signals:
    void started();
    void ended(bool succeeded, const QString &lastLine);

private:
    bool running = false;
    bool hasRun = false;
    bool lastSucceeded = false;
    QString lastStatus;
};
