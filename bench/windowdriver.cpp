#include "windowdriver.h"

#include "benchclock.h"
#include "benchformat.h"
#include "imageinfodialog.h"
#include "mainwindow.h"
#include "runkit.h"
#include "runsession.h"

#include <cstdio>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

namespace bench {

namespace {

constexpr int tickIntervalMs = 10;
constexpr qint64 tickIntervalNs = qint64(tickIntervalMs) * 1000000;
constexpr int wakeWithoutTicksMs = 500;
// Far beyond the slowest run the benchmarks make (an 8 MiB image at NOR speed).
constexpr qint64 runTimeoutNs = qint64(600) * 1000000000;

const char *const platformChatter[] = {
    "This plugin does not support",
    "QStandardPaths: XDG_RUNTIME_DIR not set",
};

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
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

WindowDriver::WindowDriver(bool lagTicks) : window(std::make_unique<MainWindow>())
{
    connect(window->findChild<RunSession *>(), &RunSession::ended, this, [this](const RunOutcome &ended) {
        endedAt = nowNs();
        outcome = ended;
    });
    window->show();

    ticker = new QTimer(this);
    ticker->setTimerType(Qt::PreciseTimer);
    ticker->setInterval(tickIntervalMs);
    connect(ticker, &QTimer::timeout, this, &WindowDriver::tick);
    lastTick = nowNs();
    if (lagTicks)
        ticker->start();
}

WindowDriver::~WindowDriver()
{
    ticker->stop();
    window.reset();
}

QVector<qint64> WindowDriver::idleLags(int ms)
{
    ticks.clear();
    spin(ms);
    QVector<qint64> lags;
    for (const Tick &tick : ticks)
        lags.append(tick.late);
    return lags;
}

void WindowDriver::spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void WindowDriver::showImageList(const QString &updateFile)
{
    runkit::child<QLineEdit>(*window, "filenameLineEdit")->setText(updateFile);
    QTest::mouseClick(runkit::child<QPushButton>(*window, "imageInfoButton"), Qt::LeftButton);
    spin(settleMs);
    window->findChild<ImageInfoDialog *>()->hide();
}

RunTimes WindowDriver::run(const QString &updateFile)
{
    RunTimes times;
    endedAt = 0;
    ticks.clear();
    // One watcher per run: its first run is this one. Only the moments are
    // kept, so that the watching costs the run nothing per block.
    runkit::RunWatcher watcher;
    watcher.everyReport = false;
    if (!runkit::startRun(*window, updateFile))
        return times;
    // Not the kit's waitFor, which sleeps between its looks: a sleeping GUI
    // thread would be counted as lag and as the delay of the window's end.
    // The ticker wakes the loop at least every 10 ms, or without it a slow
    // timer does, so the wait cannot hang.
    QTimer wake;
    if (!ticker->isActive())
        wake.start(wakeWithoutTicksMs);
    const qint64 deadline = nowNs() + runTimeoutNs;
    while (!(endedAt != 0 && watcher.run().over()) && nowNs() < deadline)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    const runkit::RunRecord record = watcher.run();
    times.handedOver = ns(record.caught);
    times.started = ns(record.when("S:"));
    times.finished = ns(record.when("finished"));
    times.windowDone = endedAt;
    times.outcome = outcome;
    for (const Tick &tick : ticks) {
        if (tick.at > times.handedOver && (times.windowDone == 0 || tick.at < times.windowDone))
            times.lagsNs.append(tick.late);
    }
    times.completed = times.windowDone != 0 && record.over() && outcome.succeeded();
    return times;
}

void WindowDriver::tick()
{
    const qint64 now = nowNs();
    ticks.append({now, qMax<qint64>(0, now - lastTick - tickIntervalNs)});
    lastTick = now;
}

} // namespace bench
