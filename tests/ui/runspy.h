#pragma once

#include "testsupport.h"
#include "updatefilebuilder.h"
#include "updaterthread.h"
#include "workercatcher.h"
#include "zarnsim.h"

#include <atomic>
#include <functional>
#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QLineEdit>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <vector>

// Shared by the tests that run updates through the window: the operator's
// steps, a file of three images, and a spy on the runs.

inline const QString doneLine = QStringLiteral("Done updating. It is now safe to restart the computer.");
inline constexpr int runTimeoutMs = 60000;

template <typename T> T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// Three images; in the second, image offset 0x100 (flash 0x80100) holds a bit
// set that a stuck-low fault there keeps from ever being programmed.
inline QList<updatefile::Image> threeImages()
{
    QList<updatefile::Image> images;
    const quint32 addresses[] = {0x40000, 0x80000, 0xC0000};
    const QByteArray names[] = {"BOOT", "APP", "CONF"};
    for (int i = 0; i < 3; ++i) {
        updatefile::Image image;
        image.name = names[i];
        image.version = 0x01020304;
        image.address = addresses[i];
        image.data = updatefile::pattern(addresses[i], 3000 + 1000 * i);
        images << image;
    }
    images[1].data[0x100] = char(images[1].data.at(0x100) | 0x01);
    return images;
}

inline bool flashHolds(const updatefile::Image &image)
{
    const std::vector<uint8_t> bytes = zarnsim::flashBytes(image.address, uint32_t(image.data.size()));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())) == image.data;
}

inline bool flashHoldsAll(const QList<updatefile::Image> &images)
{
    for (const updatefile::Image &image : images)
        if (!flashHolds(image))
            return false;
    return true;
}

// Types the name, releases Update and confirms, as an operator does; true
// when the run is then under way. beforeConfirming runs while the
// confirmation lists the file.
inline bool startRun(QWidget &window, const QString &path, const std::function<void()> &beforeConfirming = {})
{
    auto *filename = child<QLineEdit>(window, "filenameLineEdit");
    filename->clear();
    QTest::keyClicks(filename, path);
    const auto seen = testsupport::answerNextModal([&](QWidget *modal) {
        if (beforeConfirming)
            beforeConfirming();
        testsupport::acceptModal(modal);
    });
    QTest::mouseClick(child<QPushButton>(window, "startUpdateButton"), Qt::LeftButton);
    return seen->seen && seen->className == QLatin1String("ImageInfoDialog") &&
           !child<QPushButton>(window, "startUpdateButton")->isEnabled();
}

// Follows the objects of update runs. Its thread is caught from inside the
// run, when the worker finishes on it.
class RunSpy final : public WorkerCatcher
{
public:
    std::atomic<int> workersCreated{0};
    std::atomic<int> workersDestroyed{0};
    std::atomic<int> threadsSeen{0};
    std::atomic<int> threadsDestroyed{0};
    // Called with every status line on the run's own thread, as it is sent.
    std::function<void(const QString &)> onStatusLine;

    // Every status line of every run, in the order the workers sent them.
    QStringList statusLines() const
    {
        QMutexLocker lock(&mutex);
        return lines;
    }

    // Update enabled again, and count runs over with their worker and thread gone.
    bool waitForRuns(QWidget &window, int count) const
    {
        auto *update = child<QPushButton>(window, "startUpdateButton");
        return testsupport::waitFor(
            [&] { return update->isEnabled() && workersDestroyed == count && threadsDestroyed == count; },
            runTimeoutMs);
    }

private:
    void follow(UpdaterThread *worker) override
    {
        ++workersCreated;
        // Direct connections: they run on the worker's thread, where the run is.
        connect(
            worker, &QObject::destroyed, this, [this] { ++workersDestroyed; }, Qt::DirectConnection);
        connect(
            worker, &UpdaterThread::updateStatusText, this,
            [this](const QString &text) {
                {
                    QMutexLocker lock(&mutex);
                    lines.append(text);
                }
                if (onStatusLine)
                    onStatusLine(text);
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
