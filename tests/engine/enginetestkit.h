#pragma once

#include "updatefilebuilder.h"
#include "updaterthread.h"
#include "zarnsim.h"

#include <algorithm>
#include <fcntl.h>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

// Shared by the engine tests: what a worker reported, in order, and the device's
// own record of what it was asked to do.
namespace enginetest {

inline QString hexLine(const char *text, quint64 value)
{
    return QLatin1String(text) + QString::number(value, 16);
}

// One status line per whole 1 KiB block, as the write and read-back loops make them.
inline QStringList blockLines(const char *text, quint32 address, quint32 size)
{
    QStringList lines;
    for (quint32 k = 0; k < size / 1024; ++k)
        lines << hexLine(text, address + k * 1024);
    return lines;
}

// Every signal of a worker as one ordered list: "S:<status line>",
// "C:<current %>", "T:<total %>" and "finished".
class Recorder
{
public:
    explicit Recorder(UpdaterThread *worker)
    {
        QObject::connect(worker, &UpdaterThread::updateStatusText,
                         [this](const QString &text) { events << QStringLiteral("S:") + text; });
        QObject::connect(worker, &UpdaterThread::updateCurrentProgress,
                         [this](int progress) { events << QStringLiteral("C:%1").arg(progress); });
        QObject::connect(worker, &UpdaterThread::updateTotalProgress,
                         [this](int progress) { events << QStringLiteral("T:%1").arg(progress); });
        QObject::connect(worker, &UpdaterThread::finished, [this] { events << QStringLiteral("finished"); });
    }

    QStringList events;
};

inline QStringList statusLines(const QStringList &events)
{
    QStringList lines;
    for (const QString &event : events)
        if (event.startsWith(QLatin1String("S:")))
            lines << event.mid(2);
    return lines;
}

// The events of one kind ("C:" or "T:"), in order.
inline QStringList progressOf(const QStringList &events, const char *kind)
{
    QStringList reports;
    for (const QString &event : events)
        if (event.startsWith(QLatin1String(kind)))
            reports << event;
    return reports;
}

// The first total reported after the event `after`, looked for from index from.
inline int totalAfter(const QStringList &events, const QString &after, int from = 0)
{
    const int at = events.indexOf(after, from);
    for (int i = at + 1; at >= 0 && i < events.size(); ++i)
        if (events.at(i).startsWith(QLatin1String("T:")))
            return events.at(i).mid(2).toInt();
    return -1;
}

inline std::vector<zarnsim::Call> flashCalls(zarnsim::Op op)
{
    std::vector<zarnsim::Call> calls;
    for (const zarnsim::Call &call : zarnsim::record())
        if (call.node == zarnsim::Node::Flash && call.op == op)
            calls.push_back(call);
    return calls;
}

inline QList<quint32> eraseAddresses()
{
    QList<quint32> addresses;
    for (const zarnsim::Call &call : flashCalls(zarnsim::Op::Ioctl))
        if (call.request == zarnsim::flashIocErasePage)
            addresses << quint32(call.argument);
    return addresses;
}

inline QList<quint64> writeSizes()
{
    QList<quint64> sizes;
    for (const zarnsim::Call &call : flashCalls(zarnsim::Op::Write))
        sizes << call.size;
    return sizes;
}

inline QByteArray flash(quint32 address, quint32 length)
{
    const std::vector<uint8_t> bytes = zarnsim::flashBytes(address, length);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

inline void setFlash(quint32 address, const QByteArray &bytes)
{
    zarnsim::setFlashBytes(address, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

inline updatefile::Image image(const char *name, quint32 address, const QByteArray &data)
{
    updatefile::Image result;
    result.name = QByteArray(name);
    result.address = address;
    result.data = data;
    return result;
}

// Empty when the file cannot be written.
inline QString writeUpdateFile(const QTemporaryDir &dir, const QList<updatefile::Image> &images)
{
    const QString path = dir.filePath(QStringLiteral("update.zarnru"));
    return updatefile::writeFile(path, images) ? path : QString();
}

} // namespace enginetest
