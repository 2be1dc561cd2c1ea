#pragma once

#include "mainwindow.h"
#include "testsupport.h"
#include "updatefilebuilder.h"
#include "updaterthread.h"
#include "workercatcher.h"
#include "zarnsim.h"

#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <vector>

// Shared by the reliability tests: update runs followed from outside the
// window, the window driven as the operator drives it, and the process's own
// resources as the kernel counts them.
namespace reliability {

inline const QString doneLine = QStringLiteral("Done updating. It is now safe to restart the computer.");
inline const QString initLine = QStringLiteral("Updater initialization...");
inline constexpr int runTimeoutMs = 60000;

// Everything one worker reported, seen on its own thread as it was sent.
struct RunRecord
{
    QStringList status;
    QList<int> current;
    QList<int> total;
    int finished = 0;
    bool workerDestroyed = false;
    bool threadDestroyed = false;
};

// Records every run the window starts.
class RunWatcher final : public WorkerCatcher
{
public:
    int runCount() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(runs.size());
    }

    // A copy of run index (0 for the first run seen).
    RunRecord run(int index) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return *runs.at(size_t(index));
    }

    // The run has ended and both its objects are gone.
    bool over(int index) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (size_t(index) >= runs.size())
            return false;
        const RunRecord &record = *runs.at(size_t(index));
        return record.finished > 0 && record.workerDestroyed && record.threadDestroyed;
    }

    // Drops the records of ended runs, so that a long soak keeps no history.
    void forget()
    {
        std::lock_guard<std::mutex> lock(mutex);
        runs.clear();
    }

private:
    void follow(UpdaterThread *worker) override
    {
        auto record = std::make_shared<RunRecord>();
        {
            std::lock_guard<std::mutex> lock(mutex);
            runs.push_back(record);
        }
        // Direct connections: they run where the worker sends, before any queue.
        const auto direct = Qt::DirectConnection;
        connect(
            worker, &UpdaterThread::updateStatusText, this,
            [this, record](const QString &text) { update([&] { record->status << text; }); }, direct);
        connect(
            worker, &UpdaterThread::updateCurrentProgress, this,
            [this, record](int value) { update([&] { record->current << value; }); }, direct);
        connect(
            worker, &UpdaterThread::updateTotalProgress, this,
            [this, record](int value) { update([&] { record->total << value; }); }, direct);
        connect(
            worker, &QObject::destroyed, this,
            [this, record] { update([&] { record->workerDestroyed = true; }); }, direct);
        connect(
            worker, &UpdaterThread::finished, this,
            [this, record] {
                update([&] { ++record->finished; });
                connect(
                    QThread::currentThread(), &QObject::destroyed, this,
                    [this, record] { update([&] { record->threadDestroyed = true; }); },
                    Qt::DirectConnection);
            },
            direct);
    }

    template <typename Change> void update(Change change)
    {
        std::lock_guard<std::mutex> lock(mutex);
        change();
    }

    // Not QMutex: ThreadSanitizer sees a contended QMutex hand over only inside
    // Qt, which it does not watch, and would take the records for a race.
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<RunRecord>> runs;
};

template <typename T> T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// The window as the operator meets it: a name in the field, Update released,
// the box or dialog that comes up answered with its first button.
class WindowUnderTest
{
public:
    WindowUnderTest()
    {
        window.show();
        exposed = QTest::qWaitForWindowExposed(&window);
    }

    bool exposed = false;
    MainWindow window;

    QPushButton *updateButton() { return child<QPushButton>(window, "startUpdateButton"); }
    QProgressBar *currentBar() { return child<QProgressBar>(window, "currentProgressBar"); }
    QProgressBar *totalBar() { return child<QProgressBar>(window, "totalProgressBar"); }
    QString statusText() { return child<QLabel>(window, "statusLabel")->text(); }
    QString timeRemaining() { return child<QLabel>(window, "timeRemain")->text(); }

    // What came up after Update: the confirmation (accepted) or a warning (closed).
    std::shared_ptr<testsupport::ModalSeen> pressUpdate(const QString &path)
    {
        child<QLineEdit>(window, "filenameLineEdit")->setText(path);
        const auto seen = testsupport::answerNextModal(testsupport::acceptModal);
        QTest::mouseClick(updateButton(), Qt::LeftButton);
        return seen;
    }

    // Bounded: the run with this index has ended and the window is idle again.
    bool waitForRun(const RunWatcher &watcher, int index, int timeoutMs = runTimeoutMs)
    {
        return testsupport::waitFor([&] { return watcher.over(index) && updateButton()->isEnabled(); },
                                    timeoutMs);
    }
};

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
        if (call.node != zarnsim::Node::Flash)
            continue;
        if (call.op == zarnsim::Op::Open && (call.flags & O_ACCMODE) == O_RDONLY) {
            probing = call.result >= 0;
            continue;
        }
        if (probing && call.op == zarnsim::Op::Close) {
            probing = false;
            continue;
        }
        calls.push_back(call);
    }
    return calls;
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

// The process as the kernel sees it.
struct Resources
{
    int descriptors = 0;
    int threads = 0;
    qint64 residentKiB = 0;
};

inline int entriesIn(const char *directory)
{
    DIR *listing = opendir(directory);
    if (!listing)
        return -1;
    int count = 0;
    while (const dirent *entry = readdir(listing)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(listing);
    return count;
}

inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

inline Resources measure()
{
    Resources now;
    // The listing's own descriptor is open while it is counted: one more, every time alike.
    now.descriptors = entriesIn("/proc/self/fd");
    now.threads = entriesIn("/proc/self/task");
    now.residentKiB = residentKiB();
    return now;
}

} // namespace reliability
