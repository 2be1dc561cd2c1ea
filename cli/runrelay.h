#pragma once

#include <QObject>
#include <QString>

// Hands what the run's thread says beside its signals (the lines that tell a
// step, the stages it enters, a history it cannot write) to the program's thread as its signals are
// handed over: queued, in order with them, the arguments copied by the
// toolkit. Lives on the program's thread; the run's thread only emits.
class RunRelay final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    void stepLine(const QString &line);
    void stageEntered(int image, int stage);
    void unrecorded(const QString &cause);
};
