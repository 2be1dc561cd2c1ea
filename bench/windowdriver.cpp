#include "windowdriver.h"

#include "benchclock.h"
#include "mainwindow.h"
#include "updaterthread.h"

#include <cstdio>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

namespace bench {

namespace {

const char windowDoneLine[] = "void MainWindow::updateFinished()";
constexpr int tickIntervalMs = 10;
constexpr qint64 tickIntervalNs = qint64(tickIntervalMs) * 1000000;
// Far beyond the slowest run the benchmarks make (an 8 MiB image at NOR speed).
constexpr qint64 runTimeoutNs = qint64(600) * 1000000000;

} // namespace

struct WindowDriver::Shared
{
    std::atomic<bool> workerSeen{false};
    std::atomic<qint64> handedOver{0};
    std::atomic<qint64> started{0};
    std::atomic<qint64> finished{0};
    std::atomic<qint64> windowDone{0};
    std::atomic<bool> threadGone{false};
    QVector<qint64> lagsNs; // GUI thread only

    bool running() const { return handedOver.load() != 0 && windowDone.load() == 0; }

    void reset()
    {
        workerSeen = false;
        handedOver = 0;
        started = 0;
        finished = 0;
        windowDone = 0;
        threadGone = false;
        lagsNs.clear();
    }
};

namespace {

std::atomic<std::atomic<qint64> *> windowDoneSlot{nullptr};

const char *const platformChatter[] = {
    "This plugin does not support",
    "QStandardPaths: XDG_RUNTIME_DIR not set",
};

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg) {
        if (message == QLatin1String(windowDoneLine)) {
            if (std::atomic<qint64> *slot = windowDoneSlot.load())
                slot->store(nowNs());
        }
        return;
    }
    for (const char *chatter : platformChatter) {
        if (message.startsWith(QLatin1String(chatter)))
            return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

void installMessageHandler()
{
    qInstallMessageHandler(messageHandler);
}

WindowDriver::WindowDriver() : shared(std::make_shared<Shared>())
{
    Q_ASSERT(windowDoneSlot.load() == nullptr);
    windowDoneSlot = &shared->windowDone;
    qApp->installEventFilter(this);

    window = std::make_unique<MainWindow>();
    filenameEdit = window->findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"));
    updateButton = window->findChild<QPushButton *>(QStringLiteral("startUpdateButton"));
    Q_ASSERT(filenameEdit && updateButton);
    window->show();

    ticker = new QTimer(this);
    ticker->setTimerType(Qt::PreciseTimer);
    ticker->setInterval(tickIntervalMs);
    connect(ticker, &QTimer::timeout, this, &WindowDriver::tick);
    lastTick = nowNs();
    ticker->start();
}

WindowDriver::~WindowDriver()
{
    ticker->stop();
    window.reset();
    qApp->removeEventFilter(this);
    windowDoneSlot = nullptr;
}

QVector<qint64> WindowDriver::idleLags(int ms)
{
    shared->lagsNs.clear();
    sampleIdle = true;
    spin(ms);
    sampleIdle = false;
    return shared->lagsNs;
}

void WindowDriver::spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

RunTimes WindowDriver::run(const QString &updateFile)
{
    shared->reset();
    filenameEdit->setText(updateFile);
    const qint64 deadline = nowNs() + runTimeoutNs;

    // Returns once the confirmation is accepted and the worker's thread runs.
    emit updateButton->released();

    RunTimes times;
    if (!shared->workerSeen)
        return times;
    // The ticker wakes the loop at least every 10 ms, so the wait cannot hang.
    while (!(shared->windowDone.load() != 0 && shared->threadGone.load()) && nowNs() < deadline)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    times.handedOver = shared->handedOver;
    times.started = shared->started;
    times.finished = shared->finished;
    times.windowDone = shared->windowDone;
    times.lagsNs = shared->lagsNs;
    if (auto *status = window->findChild<QLabel *>(QStringLiteral("statusLabel")))
        times.lastStatus = status->text();
    times.completed = times.windowDone != 0 && shared->threadGone.load() &&
                      times.lastStatus == QLatin1String(updateDoneText);
    return times;
}

bool WindowDriver::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ThreadChange:
        if (auto *worker = qobject_cast<UpdaterThread *>(watched))
            follow(worker);
        break;
    case QEvent::Show:
        // The operator's OK on the confirmation, as soon as the dialog is up.
        if (auto *dialog = qobject_cast<QDialog *>(watched); dialog && dialog->isModal())
            QTimer::singleShot(0, dialog, &QDialog::accept);
        break;
    default:
        break;
    }
    return false;
}

void WindowDriver::follow(UpdaterThread *worker)
{
    const std::shared_ptr<Shared> s = shared;
    s->workerSeen = true;
    s->handedOver = nowNs();

    // Made before the window wires the worker, so these run first on each
    // emission, ahead of the window's queued calls.
    auto firstLine = std::make_shared<QMetaObject::Connection>();
    *firstLine = connect(
        worker, &UpdaterThread::updateStatusText, worker,
        [s, firstLine](const QString &) {
            if (s->started.load() == 0)
                s->started = nowNs();
            QObject::disconnect(*firstLine);
        },
        Qt::DirectConnection);
    connect(
        worker, &UpdaterThread::finished, worker,
        [s] {
            s->finished = nowNs();
            QObject::connect(QThread::currentThread(), &QObject::destroyed, [s] { s->threadGone = true; });
        },
        Qt::DirectConnection);
}

void WindowDriver::tick()
{
    const qint64 now = nowNs();
    if (sampleIdle || shared->running())
        shared->lagsNs.append(qMax<qint64>(0, now - lastTick - tickIntervalNs));
    lastTick = now;
}

} // namespace bench
