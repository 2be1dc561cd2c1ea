#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;
class RunSession;
struct RunOutcome;

// Leaves no doubt about how a run ended: after a failure the status line (its
// text stays the engine's) takes an error colour and the window's status bar
// says that the ZARN system may not start and that the update should be run
// again before restarting; after success the status bar says the update is
// complete, and after a run that never changed the flash that it did not take
// place. Follows the window's run session.
class RunOutcomeView final : public QObject
{
    Q_OBJECT

public:
    RunOutcomeView(RunSession *session, QLabel *statusLine, QStatusBar *statusBar, QObject *parent);

    static const QString failedText;
    static const QString succeededText;
    static const QString notStartedText;

private:
    void runStarted();
    void runEnded(const RunOutcome &outcome);

    QLabel *statusLine;
    QStatusBar *statusBar;
};
