#pragma once

#include <QObject>

class QAbstractButton;
class QEvent;
class QMainWindow;

// Keeps a running update from being cut short: closing the window ends the
// application, and a flash left half programmed may leave the ZARN system
// unable to start. A run is under way exactly while the window's update button
// is disabled, so the guard needs no signal of its own from the run. Beyond the
// window's close button, its helpers hold off sleep and shutdown through logind
// and defer the termination signals until the run has ended.
class RunGuard final : public QObject
{
    Q_OBJECT

public:
    // Lives as a child of window; updateButton belongs to the same window.
    RunGuard(QMainWindow *window, QAbstractButton *updateButton);

    bool runUnderWay() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void explainRefusal();

    QMainWindow *window;
    QAbstractButton *updateButton;
};
