#pragma once

// The kit of every test that runs updates: a watcher of the runs, the
// operator's steps at the window, the files and the simulated flash.

#include "testsupport.h"
#include "updatefilebuilder.h"
#include "updaterthread.h"
#include "zarnsim.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <QVector>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace runkit {

inline const QString initLine = QStringLiteral("Updater initialization...");
inline const QString doneLine = QStringLiteral("Done updating. It is now safe to restart the computer.");
inline constexpr int runTimeoutMs = 60000;

// What one worker reported, in order: "S:<status line>", "C:<current %>",
// "T:<total %>", "finished", then "~worker" and "~thread" as its objects go;
// and when, on the monotonic clock.
struct RunRecord
{
    using Moment = std::chrono::steady_clock::time_point;

    QStringList events;
    QVector<Moment> times; // of each event
    Moment caught;         // the watcher took the worker up: a window's, as it is moved to its thread

    QStringList of(const char *kind) const // the events of one kind, the kind cut off
    {
        QStringList found;
        for (const QString &event : events)
            if (event.startsWith(QLatin1String(kind)))
                found << event.mid(2);
        return found;
    }
    QStringList lines() const { return of("S:"); }
    Moment when(const char *kind) const // of the first event of a kind; the clock's epoch when none came
    {
        for (int i = 0; i < events.size(); ++i)
            if (events.at(i).startsWith(QLatin1String(kind)))
                return times.value(i);
        return Moment();
    }
    int finished() const { return int(events.count(QStringLiteral("finished"))); }
    bool over() const { return finished() > 0 && events.contains("~worker") && events.contains("~thread"); }
};

// Follows the workers it is given and every worker a window moves to its
// thread: the ThreadChange event comes while the worker still lives in the
// GUI thread, so an application event filter sees it. Everything is recorded
// on the worker's thread as it is sent.
class RunWatcher final : public QObject
{
public:
    RunWatcher() { QCoreApplication::instance()->installEventFilter(this); }
    ~RunWatcher() override
    {
        QCoreApplication::instance()->removeEventFilter(this);
        opened.release(1000); // a failed test must leave no run held
    }

    // Called on the run's thread with each status line, as it is sent.
    std::function<void(const QString &)> onStatusLine;
    // Off: only the first status line, finished and the objects' going are
    // recorded, and only the first run is followed (the filter goes once it
    // has caught its worker), so that a long run pays for its watcher neither
    // per block nor in memory (the benchmarks time and weigh the runs they watch).
    bool everyReport = true;

    void watch(UpdaterThread *worker)
    {
        auto record = std::make_shared<RunRecord>();
        record->caught = std::chrono::steady_clock::now();
        const auto note = [this, record](const QString &event) {
            const RunRecord::Moment now = std::chrono::steady_clock::now();
            std::lock_guard<std::mutex> lock(mutex);
            record->events << event;
            record->times << now;
        };
        on(worker, &UpdaterThread::updateStatusText,
           [this, note, worker, every = everyReport](const QString &text) {
               note("S:" + text);
               if (onStatusLine)
                   onStatusLine(text);
               if (!every)
                   disconnect(worker, &UpdaterThread::updateStatusText, this, nullptr);
           });
        if (everyReport) {
            on(worker, &UpdaterThread::updateCurrentProgress,
               [note](int v) { note("C:" + QString::number(v)); });
            on(worker, &UpdaterThread::updateTotalProgress,
               [note](int v) { note("T:" + QString::number(v)); });
        }
        on(worker, &QObject::destroyed, [note] { note("~worker"); });
        on(worker, &UpdaterThread::finished, [this, note] {
            note("finished");
            on(QThread::currentThread(), &QObject::destroyed, [note] { note("~thread"); });
        });
        std::lock_guard<std::mutex> lock(mutex);
        runs.push_back(record);
    }
    RunRecord run(int index = 0) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return size_t(index) < runs.size() ? *runs.at(size_t(index)) : RunRecord();
    }

    // Holds every run at its first status line, after calling onHold there,
    // until release(): the run is then surely under way.
    void hold(std::function<void()> onHold = [] {})
    {
        onStatusLine = [this, onHold](const QString &line) {
            if (line == initLine) {
                onHold();
                held.release();
                opened.acquire();
            }
        };
    }
    bool waitUntilHeld()
    {
        return testsupport::waitFor([this] { return held.tryAcquire(); }, 30000);
    }
    void release() { opened.release(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Every event of the application passes here, a run's reports too:
        // the cheap test first.
        if (event->type() != QEvent::ThreadChange)
            return false;
        if (auto *worker = qobject_cast<UpdaterThread *>(watched)) {
            watch(worker);
            if (!everyReport)
                QCoreApplication::instance()->removeEventFilter(this);
        }
        return false;
    }

private:
    template <typename Sender, typename Signal, typename Slot>
    void on(Sender *sender, Signal signal, Slot slot)
    {
        connect(sender, signal, this, slot, Qt::DirectConnection);
    }

    // Not QMutex: ThreadSanitizer sees a contended QMutex hand over only inside
    // Qt, which it does not watch, and would take the records for a race.
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<RunRecord>> runs;
    QSemaphore held;
    QSemaphore opened;
};

template <typename T> T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

inline QPushButton *updateButton(QWidget &window)
{
    return child<QPushButton>(window, "startUpdateButton");
}

// Puts the name in the field and releases Update as an operator does, and
// answers what comes up: the confirmation accepted (after beforeConfirming,
// while it lists the file), a box closed. The run is then under way.
inline bool startRun(
    QWidget &window, const QString &path, const std::function<void()> &beforeConfirming = [] {})
{
    child<QLineEdit>(window, "filenameLineEdit")->setText(path);
    testsupport::ModalWatcher modals([&](QWidget *modal) {
        beforeConfirming();
        testsupport::acceptModal(modal);
    });
    QTest::mouseClick(updateButton(window), Qt::LeftButton);
    return modals.seen.value(0).startsWith("ImageInfoDialog|") && !updateButton(window)->isEnabled();
}

// Bounded: the window is idle again and run index is over, its worker and thread gone.
inline bool waitForRun(QWidget &window, const RunWatcher &watcher, int index = 0)
{
    return testsupport::waitFor(
        [&] { return updateButton(window)->isEnabled() && watcher.run(index).over(); }, runTimeoutMs);
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

// The flash calls of the runs, without the window's look at the lock before
// each confirmation: a read-only open and, when it succeeded, its close.
inline std::vector<zarnsim::Call> flashCalls()
{
    std::vector<zarnsim::Call> calls;
    bool probing = false;
    for (const zarnsim::Call &call : zarnsim::record()) {
        if (call.node == zarnsim::Node::Flash && call.op == zarnsim::Op::Open &&
            (call.flags & O_ACCMODE) == O_RDONLY)
            probing = call.result >= 0;
        else if (probing && call.node == zarnsim::Node::Flash && call.op == zarnsim::Op::Close)
            probing = false;
        else if (call.node == zarnsim::Node::Flash)
            calls.push_back(call);
    }
    return calls;
}

// What the runs asked of the flash: the address of every erase (Op::Ioctl),
// the size of every read or write.
inline QList<quint64> asked(zarnsim::Op op)
{
    QList<quint64> values;
    for (const zarnsim::Call &call : flashCalls())
        if (call.op == op && (op != zarnsim::Op::Ioctl || call.request == zarnsim::flashIocErasePage))
            values << (op == zarnsim::Op::Ioctl ? call.argument : call.size);
    return values;
}

inline updatefile::Image image(const char *name, quint32 address, QByteArray data)
{
    updatefile::Image result;
    result.name = QByteArray(name);
    result.version = 0x01020304;
    result.address = address;
    result.data = std::move(data);
    return result;
}

// Three images; in the second, image offset 0x100 (flash 0x80100) holds a bit
// set that a stuck-low fault there keeps from ever being programmed.
inline QList<updatefile::Image> threeImages()
{
    QList<updatefile::Image> images{image("BOOT", 0x40000, updatefile::pattern(0x40000, 3000)),
                                    image("APP", 0x80000, updatefile::pattern(0x80000, 4000)),
                                    image("CONF", 0xC0000, updatefile::pattern(0xC0000, 5000))};
    images[1].data[0x100] = char(images[1].data.at(0x100) | 0x01);
    return images;
}

// The command line's three images at the same addresses, each needing
// hardware 1, their bytes made from seed: two seeds give two updates.
inline QList<updatefile::Image> threeImages(quint32 seed)
{
    QList<updatefile::Image> list;
    const quint32 addresses[] = {0x40000, 0x80000, 0xC0000};
    const QByteArray names[] = {"BOOT", "APP", "CONF"};
    for (int i = 0; i < 3; ++i)
        list << updatefile::Image{
            names[i], 0x01020304, addresses[i], 1, updatefile::pattern(seed + quint32(i), 3000 + 1000 * i),
            {}};
    return list;
}

// The call a power cut must tear to meet stage (a pattern of a record line),
// counted from 1 as ZARNSIM_CUT counts the calls on the flash, in the record
// file of an uncut run; 0 when none matches. A read is the final read-back's
// when it is the last that matches: the recovery copy's reads come first.
inline int cutPoint(const QString &record, const QString &stage)
{
    QFile file(record);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QStringList calls =
        QString::fromLatin1(file.readAll())
            .split(QLatin1Char('\n'))
            .filter(QRegularExpression(QStringLiteral("^flash (ioctl|lseek|read|write) ")));
    const bool last = stage.startsWith(QLatin1String("^flash read"));
    const QRegularExpression wanted(stage);
    for (int n = 0; n < calls.size(); ++n) {
        const int at = last ? calls.size() - 1 - n : n;
        if (calls.at(at).contains(wanted))
            return at + 1;
    }
    return 0;
}

// The same images as the erased flash they are written over: 0xFF throughout.
inline QList<updatefile::Image> erasedLike(QList<updatefile::Image> images)
{
    for (updatefile::Image &image : images)
        image.data.fill(char(0xFF));
    return images;
}

inline bool flashHolds(const QList<updatefile::Image> &images)
{
    return std::all_of(images.begin(), images.end(), [](const updatefile::Image &image) {
        return flash(image.address, quint32(image.data.size())) == image.data;
    });
}

// A copy of the revocation list in PEM at from, in DER at to, its signature's last byte changed.
inline bool forgeList(const QString &from, const QString &to)
{
    QFile list(from);
    QByteArray base64;
    if (!list.open(QIODevice::ReadOnly) || !QDir().mkpath(QFileInfo(to).path()))
        return false;
    for (const QByteArray &line : list.readAll().split('\n'))
        base64 += line.startsWith("-----") ? QByteArray() : line;
    QByteArray der = QByteArray::fromBase64(base64);
    der[der.size() - 1] = char(der.back() ^ 0x01);
    QFile forged(to);
    return forged.open(QIODevice::WriteOnly) && forged.write(der) == der.size();
}

// Entries of one image each, as the programs write them into a journal's
// history folder: when, how it ended, and the image's name, address and version.
struct Written
{
    const char *started;
    const char *result;
    const char *name;
    quint32 address;
    quint32 version;
};
inline bool writeJournal(const QString &history, const QList<Written> &entries)
{
    for (int i = 0; i < entries.size(); ++i) {
        const Written &w = entries.at(i);
        const QByteArray json =
            QStringLiteral(R"({"started": "%1", "result": "%2", "images": [{"name": "%3",
                                                   "address": %4, "version": %5}]})")
                .arg(QLatin1String(w.started), QLatin1String(w.result), QLatin1String(w.name))
                .arg(w.address)
                .arg(w.version)
                .toUtf8();
        QFile file(history + QStringLiteral("/written-%1.json").arg(i + 1));
        if (!QDir().mkpath(history) || !file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
            return false;
    }
    return true;
}

// For a FIFO at path: opens it for writing a second from now, which lets go
// anyone then blocked opening it to read; the result says whether someone was.
inline std::future<bool> freeFifoLater(const QString &path)
{
    struct stat status;
    const QByteArray fifo = QFile::encodeName(path);
    const bool isFifo = ::stat(fifo.constData(), &status) == 0 && S_ISFIFO(status.st_mode);
    return std::async(std::launch::async, [fifo, isFifo] {
        std::this_thread::sleep_for(std::chrono::seconds(isFifo ? 1 : 0));
        const int fd = isFifo ? ::open(fifo.constData(), O_WRONLY | O_NONBLOCK) : -1;
        return fd >= 0 && ::close(fd) == 0;
    });
}

// A whole run of worker on this thread; onLine sees each status line as it is sent.
inline RunRecord runHere(UpdaterThread &worker, std::function<void(const QString &)> onLine = {})
{
    RunWatcher watcher;
    watcher.onStatusLine = std::move(onLine);
    watcher.watch(&worker);
    worker.process();
    return watcher.run();
}

} // namespace runkit
