#pragma once

#include <QObject>

class QEvent;
class QMainWindow;
class RunSession;

// Keeps a running update from being cut short: closing the window ends the
// application, and a flash left half programmed may leave the ZARN system
// unable to start. The run session says whether a run is under way. Beyond the
// window's close button, its helpers hold off sleep and shutdown through logind
// and defer the termination signals until the run has ended; beside them, the
// desktop is told how far the run has gone and how it ended.
class RunGuard final : public QObject
{
    Q_OBJECT

public:
    // Lives as a child of window; session is the window's.
    RunGuard(QMainWindow *window, RunSession *session);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void explainRefusal();
    // After a failed run the window may close only on the operator's word.
    bool confirmCloseAfterFailure();

    QMainWindow *window;
    RunSession *session;
};
