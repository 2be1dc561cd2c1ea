#pragma once

#include "updaterthread.h"

#include <atomic>
#include <QApplication>
#include <QEvent>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QStringList>
#include <QThread>

// Follows the objects of update runs from outside the window, which keeps no
// handle on them. The worker is caught as it is moved to its thread: the
// ThreadChange event is sent while it still lives in the GUI thread, so an
// application event filter sees it. Its thread is caught from inside the run,
// when the worker finishes on it.
class RunSpy final : public QObject
{
public:
    RunSpy() { qApp->installEventFilter(this); }
    ~RunSpy() override { qApp->removeEventFilter(this); }

    std::atomic<int> workersCreated{0};
    std::atomic<int> workersDestroyed{0};
    std::atomic<int> threadsSeen{0};
    std::atomic<int> threadsDestroyed{0};

    // Every status line of every run, in the order the workers sent them.
    QStringList statusLines() const
    {
        QMutexLocker lock(&mutex);
        return lines;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ThreadChange) {
            if (auto *worker = qobject_cast<UpdaterThread *>(watched))
                follow(worker);
        }
        return false;
    }

private:
    void follow(UpdaterThread *worker)
    {
        ++workersCreated;
        // Direct connections: they run on the worker's thread, where the run is.
        connect(
            worker, &QObject::destroyed, this, [this] { ++workersDestroyed; }, Qt::DirectConnection);
        connect(
            worker, &UpdaterThread::updateStatusText, this,
            [this](const QString &text) {
                QMutexLocker lock(&mutex);
                lines.append(text);
            },
            Qt::DirectConnection);
        connect(
            worker, &UpdaterThread::finished, this,
            [this] {
                ++threadsSeen;
                connect(
                    QThread::currentThread(), &QObject::destroyed, this, [this] { ++threadsDestroyed; },
                    Qt::DirectConnection);
            },
            Qt::DirectConnection);
    }

    mutable QMutex mutex;
    QStringList lines;
};
