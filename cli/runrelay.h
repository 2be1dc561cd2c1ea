#pragma once

#include <atomic>
#include <memory>
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
// since, only replaces its values. The last values always reach the program.
class RunRelay final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The run's thread.
    void tellStepLine(const QString &line)
    {
        waiting.reset();
        emit stepLine(line);
    }
    void tellStageEntered(int image, int stage)
    {
        waiting.reset();
        emit stageEntered(image, stage);
    }
    void tellUnrecorded(const QString &cause)
    {
        waiting.reset();
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

signals:
    void stepLine(const QString &line);
    void stageEntered(int image, int stage);
    void unrecorded(const QString &cause);
    void progressed(int current, int total);

private:
    // Both values in one word, so that the program never reads half of a pair.
    struct Pending
    {
        std::atomic<quint64> values{0};
        std::atomic<bool> queued{true};
    };
    static quint64 pack(int current, int total) { return quint64(quint32(current)) << 32 | quint32(total); }

    void tellProgress()
    {
        // The program takes the values only after it has said the report is no
        // longer waiting: if it still is, the values stored now are the ones it takes.
        if (waiting) {
            waiting->values.store(pack(current, total));
            if (waiting->queued.load())
                return;
        }
        waiting = std::make_shared<Pending>();
        waiting->values.store(pack(current, total));
        QMetaObject::invokeMethod(
            this,
            [this, pending = waiting] {
                pending->queued.store(false);
                const quint64 values = pending->values.load();
                emit progressed(int(quint32(values >> 32)), int(quint32(values)));
            },
            Qt::QueuedConnection);
    }

    // The run's thread only.
    std::shared_ptr<Pending> waiting;
    int current = 0;
    int total = 0;
};
