#pragma once

#include "runspy.h"
#include "testsupport.h"
#include "updaterthread.h"

#include <functional>
#include <memory>
#include <QApplication>
#include <QEvent>
#include <QSemaphore>

namespace guardtest {

// Calls onRunThread on each run's thread at the run's first status line, and
// holds the run there until release(): the run is then surely under way. Runs
// are caught as the window moves their worker to its thread.
class RunGate final : public QObject
{
public:
    explicit RunGate(std::function<void()> onRunThread = {}) : onRunThread(std::move(onRunThread))
    {
        qApp->installEventFilter(this);
    }
    ~RunGate() override
    {
        qApp->removeEventFilter(this);
        opened.release(1000); // a failed test must not leave a run hanging
    }

    bool waitUntilHeld()
    {
        return testsupport::waitFor([this] { return held.tryAcquire(); }, 30000);
    }
    void release() { opened.release(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *worker = qobject_cast<UpdaterThread *>(watched);
        if (worker && event->type() == QEvent::ThreadChange) {
            auto stopped = std::make_shared<bool>(false);
            connect(
                worker, &UpdaterThread::updateStatusText, this,
                [this, stopped] {
                    if (*stopped)
                        return;
                    *stopped = true;
                    if (onRunThread)
                        onRunThread();
                    held.release();
                    opened.acquire();
                },
                Qt::DirectConnection);
        }
        return false;
    }

private:
    std::function<void()> onRunThread;
    QSemaphore held;
    QSemaphore opened;
};

} // namespace guardtest
