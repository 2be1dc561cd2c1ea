#pragma once

#include <QObject>

class QAbstractButton;
class QEvent;

// Tells the guards when an update run starts and ends without a word from the
// window or the run: the window disables its update button exactly while a run
// is under way.
class RunWatch final : public QObject
{
    Q_OBJECT

public:
    RunWatch(QAbstractButton *updateButton, QObject *parent);

    bool runUnderWay() const;

signals:
    // Both come synchronously from the button's state change: runStarted before
    // the window creates the run's thread, runEnded as the window begins to
    // show the end of the run.
    void runStarted();
    void runEnded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAbstractButton *updateButton;
    bool underWay;
};
