#pragma once

#include "mainwindow.h"
#include "testsupport.h"
#include "updatefilebuilder.h"
#include "updaterthread.h"
#include "zarnsim.h"

#include <functional>
#include <memory>
#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QSemaphore>
#include <QString>
#include <QTest>
#include <vector>

namespace guardtest {

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
    // A bit that a stuck-low fault at 0x80100 keeps from holding.
    images[1].data[0x100] = char(images[1].data.at(0x100) | 0x01);
    return images;
}

// On the device of this process, whatever file backs it.
inline bool flashHolds(const updatefile::Image &image)
{
    const std::vector<uint8_t> bytes = zarnsim::flashBytes(image.address, uint32_t(image.data.size()));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())) == image.data;
}

inline QPushButton *updateButton(QWidget &window)
{
    return window.findChild<QPushButton *>(QStringLiteral("startUpdateButton"));
}

// Types the name, releases Update and confirms, as an operator does.
inline bool startRun(QWidget &window, const QString &path)
{
    auto *filename = window.findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"));
    filename->clear();
    QTest::keyClicks(filename, path);
    const auto seen = testsupport::answerNextModal(testsupport::acceptModal);
    QTest::mouseClick(updateButton(window), Qt::LeftButton);
    return seen->seen && !updateButton(window)->isEnabled();
}

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
