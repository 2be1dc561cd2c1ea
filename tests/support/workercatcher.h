#pragma once

#include "updaterthread.h"

#include <QApplication>
#include <QEvent>
#include <QObject>

// Catches every update worker as the window moves it to its thread, from
// outside the window, which keeps no handle on a run: the ThreadChange event is
// sent while the worker still lives in the GUI thread, so an application event
// filter sees it.
class WorkerCatcher : public QObject
{
public:
    WorkerCatcher() { qApp->installEventFilter(this); }
    ~WorkerCatcher() override { qApp->removeEventFilter(this); }

protected:
    virtual void follow(UpdaterThread *worker) = 0;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ThreadChange) {
            if (auto *worker = qobject_cast<UpdaterThread *>(watched))
                follow(worker);
        }
        return false;
    }
};
