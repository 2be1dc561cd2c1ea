#pragma once

#include <array>
#include <atomic>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

// Hands what the run's thread says (the lines that tell a step, the stages it
// enters, a history it cannot write, the bars) to the program's thread:
// queued, in order, the arguments copied by the toolkit. Lives on the
// program's thread; the run's thread only calls tell...().
//
// The bars come for every KiB, tens of thousands a second on a fast device,
// and the program shows at most a few a second: a progress report that finds
// the one before it still waiting to be handed over, with nothing else sent
// since, only replaces its values. One that comes less than holdMs after the
// last hand-over, with nothing else sent since, waits for the next report, line
// or stage: every hand-over wakes the program's thread, and the run paid two
// switches of thread for each report it sent. A line, a stage or the end of a
// phase (a bar at 100) is never held back, so the last values always reach the
// program, before anything sent after them.
// What the two threads share is atomic, and a report is named by a number the
// toolkit copies: no object of the run's thread is read on the program's.
class RunRelay final : public QObject
{
    Q_OBJECT

public:
    explicit RunRelay(QObject *parent = nullptr) : QObject(parent)
    {
        connect(this, &RunRelay::progressPosted, this, &RunRelay::handOver, Qt::QueuedConnection);
    }

    // The run's thread.
    void tellStepLine(const QString &line)
    {
        postHeld();
        folding = false;
        emit stepLine(line);
    }
    void tellStageEntered(int image, int stage)
    {
        postHeld();
        folding = false;
        emit stageEntered(image, stage);
    }
    void tellUnrecorded(const QString &cause)
    {
        postHeld();
        folding = false;
        emit unrecorded(cause);
    }
    void tellCurrent(int value)
    {
        current = value;
        tellProgress();
    }
    void tellTotal(int value)
    {
        total = value;
        tellProgress();
    }

    // The least time between two hand-overs of a stretch of progress.
    static constexpr qint64 holdMs = 20;

signals:
    void stepLine(const QString &line);
    void stageEntered(int image, int stage);
    void unrecorded(const QString &cause);
    void progressed(int current, int total);
    // A report waits in waitingReports[number % its size]; for the relay itself.
    void progressPosted(unsigned number);

private:
    struct Slot
    {
        // Both values in one word, so that the program never reads half of a pair.
        std::atomic<quint64> values{0};
        std::atomic<bool> taken{true};
    };
    static quint64 pack(int current, int total) { return quint64(quint32(current)) << 32 | quint32(total); }

    void tellProgress()
    {
        // The program marks a report taken before it reads the values: while
        // it is not, the values stored now are the ones it will read.
        if (folding) {
            Slot &waiting = waitingReports[posted % waitingReports.size()];
            waiting.values.store(pack(current, total));
            if (!waiting.taken.load())
                return;
            held = current < phaseEnd && total < phaseEnd && lastPosted.nsecsElapsed() < holdNs;
            if (held)
                return;
        }
        post();
    }
    void postHeld()
    {
        if (held)
            post();
    }
    void post()
    {
        Slot &next = waitingReports[++posted % waitingReports.size()];
        next.taken.store(false);
        next.values.store(pack(current, total));
        folding = true;
        held = false;
        lastPosted.start();
        emit progressPosted(posted);
    }

    // The program's thread.
    void handOver(unsigned number)
    {
        Slot &slot = waitingReports[number % waitingReports.size()];
        slot.taken.store(true);
        const quint64 values = slot.values.load();
        emit progressed(int(quint32(values >> 32)), int(quint32(values)));
    }

    // A program more reports behind than this, with steps between them, may
    // show a later value a moment early; the last one is always right.
    std::array<Slot, 64> waitingReports;
    static constexpr int phaseEnd = 100;
    static constexpr qint64 holdNs = holdMs * 1000000;
    // The run's thread only.
    unsigned posted = 0;
    bool folding = false;
    bool held = false;
    QElapsedTimer lastPosted;
    int current = 0;
    int total = 0;
};
