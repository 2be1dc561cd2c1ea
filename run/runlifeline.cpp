#include "runlifeline.h"

#include "runoutcome.h"
#include "updaterthread.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <QByteArray>
#include <QString>
#include <unistd.h>

namespace runlifeline {

namespace {

struct Lifeline
{
    std::mutex mutex;
    std::condition_variable ended;
    bool running = false;
    QString lastLine;
};

// Never destroyed: exit handlers and static destructors run in any order.
Lifeline &lifeline()
{
    static Lifeline *const instance = new Lifeline;
    return *instance;
}

void waitForTheRun()
{
    Lifeline &state = lifeline();
    std::unique_lock<std::mutex> lock(state.mutex);
    if (!state.running)
        return;
    state.ended.wait(lock, [&] { return !state.running; });
    const QByteArray line = state.lastLine.toLocal8Bit();
    std::fprintf(stderr,
                 "zarn-update-utility: the window was lost during an update; the update then ended: %s\n",
                 line.constData());
    std::fflush(stderr);
    // Nothing of the toolkit is left to tear down safely under a run's thread.
    ::_exit(EXIT_FAILURE);
}

} // namespace

void follow(UpdaterThread *worker, std::shared_ptr<const RunOutcomeSlot> outcome)
{
    Lifeline &state = lifeline();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.running = true;
        state.lastLine.clear();
    }
    // Registered for every run, so that it comes before whatever the run's
    // own start registered: exit handlers run last registered first.
    std::atexit(waitForTheRun);
    // Once, as the run ends, on its own thread: its outcome is published by then.
    QObject::connect(
        worker, &UpdaterThread::finished, worker,
        [&state, outcome] {
            {
                std::lock_guard<std::mutex> lock(state.mutex);
                state.lastLine = outcome->read().lastLine;
                state.running = false;
            }
            state.ended.notify_all();
        },
        Qt::DirectConnection);
}

} // namespace runlifeline
