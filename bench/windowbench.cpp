#include "windowbench.h"

#include "benchclock.h"
#include "benchformat.h"
#include "benchtable.h"
#include "devicefloor.h"
#include "windowdriver.h"
#include "zarnsim.h"

#include <atomic>
#include <chrono>
#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QPair>
#include <thread>

namespace bench {

namespace {

constexpr quint32 transferSize = 1024;

constexpr double overheadTargetNor = 1.02;
constexpr double overheadTargetFast = 1.05;
constexpr double engineTargetUsPerBlock = 8.0;
constexpr double lagTargetMs = 16.0;
constexpr double finishTargetMs = 100.0;

constexpr int fastRepetitions = 3;
constexpr int engineRepetitions = 5;
constexpr int idleSampleMs = 1000;
constexpr int queuedCallSamples = 50;

// 1. A full update against the time the device itself is busy.
void overheadOverDevice(WindowDriver &driver, const QString &file, quint32 size, const char *profile,
                        double target, int repetitions, const QString &journal, Table &table)
{
    const QString figure =
        QStringLiteral("Update %1, \"%2\" device: wall time / (device busy time + journal's disk time)")
            .arg(sizeName(size), profile);
    progress(figure);
    zarnsim::setTiming(zarnsim::timingProfile(profile));
    zarnsim::setSleeping(true);
    QVector<double> ratios;
    QVector<double> overBusy;
    QVector<qint64> walls;
    QVector<qint64> busies;
    QVector<qint64> disks;
    for (int i = 0; i < repetitions; ++i) {
        zarnsim::resetBusy();
        const RunTimes run = driver.run(file);
        const qint64 busy = qint64(zarnsim::busyNanoseconds());
        const qint64 disk = journalWithoutEngine(file, journal);
        if (!run.completed || busy == 0 || disk < 0) {
            table.add({QStringLiteral("1"),
                       figure,
                       QStringLiteral("run failed: ") + run.outcome.lastLine,
                       {},
                       {},
                       {},
                       QStringLiteral("NO")});
            return;
        }
        walls.append(run.windowDone - run.handedOver);
        busies.append(busy);
        disks.append(disk);
        ratios.append(double(walls.last()) / double(busy + disk));
        overBusy.append(double(walls.last()) / double(busy));
    }
    const double ratio = bench::median(ratios);
    const int at = ratios.indexOf(ratio);
    const QString runs = repetitions > 1 ? QStringLiteral(" (median of %1)").arg(repetitions) : QString();
    table.add({QStringLiteral("1"), figure + runs, seconds(walls.at(at)),
               seconds(busies.at(at)) + " busy + " + ms(disks.at(at)) + " journal",
               QStringLiteral("%1 (%2 over the busy time alone)")
                   .arg(ratio, 0, 'f', 3)
                   .arg(overBusy.at(at), 0, 'f', 3),
               QStringLiteral("<= %1").arg(target), bench::verdict(ratio <= target)});
}

// A queued call from another thread to an idle GUI thread: the floor of the
// finish delay.
QVector<qint64> queuedCallDelays()
{
    QVector<qint64> delays;
    QObject receiver;
    for (int i = 0; i < queuedCallSamples; ++i) {
        std::atomic<qint64> sent{0};
        qint64 received = 0;
        std::thread sender([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            sent = bench::nowNs();
            QMetaObject::invokeMethod(
                &receiver, [&] { received = bench::nowNs(); }, Qt::QueuedConnection);
        });
        while (received == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        sender.join();
        delays.append(received - sent);
    }
    return delays;
}

// 2 and 3. The engine with the window attached against the bare device calls,
// and how the GUI thread fares meanwhile.
void engineCost(WindowDriver &driver, const QList<QPair<QString, quint32>> &files, const QString &journal,
                Table &table)
{
    zarnsim::setTiming(zarnsim::timingProfile("zero"));

    progress(QStringLiteral("checking that the floor makes the engine's device calls"));
    QString why;
    const QString &checkFile = files.first().first;
    const bool same = bench::sameDeviceCalls(
        checkFile, journal, [&] { return driver.run(checkFile).completed; }, &why);
    table.note(QStringLiteral("Engine floor, device calls compared on the %1 update: %2 (%3).")
                   .arg(sizeName(files.first().second),
                        same ? QStringLiteral("same") : QStringLiteral("DIFFERENT"), why));

    progress(QStringLiteral("GUI thread floors: idle timer, queued call"));
    const QVector<qint64> idleLags = driver.idleLags(idleSampleMs);
    const QVector<qint64> queued = queuedCallDelays();

    for (const auto &entry : files) {
        const QString &file = entry.first;
        const quint32 size = entry.second;
        progress(QStringLiteral("engine on a zero-delay device, %1").arg(sizeName(size)));
        // One round of each first, so that neither pays for a cold start.
        driver.run(file);
        bench::updateWithoutEngine(file, FloorBuffers::WholeImage, journal);

        QVector<qint64> engineNs;
        QVector<qint64> floorNs;
        QVector<qint64> lags;
        QVector<qint64> runLagMaxima; // the worst tick of each run
        QVector<qint64> finishDelays;
        bool failed = false;
        for (int i = 0; i < engineRepetitions && !failed; ++i) {
            const RunTimes run = driver.run(file);
            failed = !run.completed || run.started == 0;
            engineNs.append(run.finished - run.started);
            lags += run.lagsNs;
            runLagMaxima.append(run.lagsNs.isEmpty() ? 0 : bench::maximum(run.lagsNs));
            finishDelays.append(run.windowDone - run.finished);
            floorNs.append(bench::updateWithoutEngine(file, FloorBuffers::WholeImage, journal));
        }
        if (failed) {
            table.add({QStringLiteral("2"),
                       QStringLiteral("Engine, %1").arg(sizeName(size)),
                       QStringLiteral("run failed"),
                       {},
                       {},
                       {},
                       QStringLiteral("NO")});
            continue;
        }
        const double engine = bench::median(engineNs);
        const double floor = bench::median(floorNs);
        const double transfers = 2.0 * size / transferSize;
        const double usPerBlock = (engine - floor) / transfers / 1000.0;
        table.add({QStringLiteral("2"),
                   QStringLiteral("Engine with window, %1, zero-delay device: throughput (median of %2)")
                       .arg(sizeName(size))
                       .arg(engineRepetitions),
                   mibPerS(size, engine), mibPerS(size, floor) + " (bare device calls)",
                   QStringLiteral("%1 x floor; %2 us per 1 KiB block")
                       .arg(floor / engine, 0, 'f', 2)
                       .arg(usPerBlock, 0, 'f', 2),
                   QStringLiteral("<= %1 us per block").arg(engineTargetUsPerBlock),
                   bench::verdict(usPerBlock <= engineTargetUsPerBlock)});

        // Every run must keep the window responsive, not only a typical one.
        const double lagMax = bench::maximum(runLagMaxima);
        table.add(
            {QStringLiteral("3"),
             QStringLiteral("GUI 10 ms timer lag during the %1 runs, worst tick of each run: "
                            "min / median / max of %2 runs (%3 ticks, p99 %4)")
                 .arg(sizeName(size))
                 .arg(runLagMaxima.size())
                 .arg(lags.size())
                 .arg(ms(bench::percentile(lags, 0.99))),
             ms(bench::minimum(runLagMaxima)) + " / " + ms(bench::median(runLagMaxima)) + " / " + ms(lagMax),
             ms(bench::maximum(idleLags)) + " / " + ms(bench::percentile(idleLags, 0.99)) +
                 " (idle window, max / p99)",
             QStringLiteral("max %1").arg(ms(lagMax)), QStringLiteral("every run <= %1 ms").arg(lagTargetMs),
             bench::verdict(lagMax / bench::nsPerMs <= lagTargetMs)});
        const double finishMax = bench::maximum(finishDelays);
        table.add(
            {QStringLiteral("3"),
             QStringLiteral("Worker finished() to the window's end of the run, %1, max (median)")
                 .arg(sizeName(size)),
             ms(finishMax) + " (" + ms(bench::median(finishDelays)) + ")",
             ms(bench::maximum(queued), 2) + " (" + ms(bench::median(queued), 2) + ") queued call, idle GUI",
             QStringLiteral("max %1").arg(ms(finishMax)), QStringLiteral("<= %1 ms").arg(finishTargetMs),
             bench::verdict(finishMax / bench::nsPerMs <= finishTargetMs)});
    }
}

void overheadRuns(WindowDriver &driver, const QString &oneMiB, const QString &eightMiB, bool quick,
                  const QString &journal, Table &table)
{
    overheadOverDevice(driver, oneMiB, mib, "nor", overheadTargetNor, 1, journal, table);
    if (quick) {
        table.add({QStringLiteral("1"),
                   QStringLiteral("Update 8 MiB, \"nor\" device"),
                   QStringLiteral("left out (ZARN_BENCH_QUICK)"),
                   {},
                   {},
                   {},
                   QStringLiteral("-")});
    } else {
        overheadOverDevice(driver, eightMiB, 8 * mib, "nor", overheadTargetNor, 1, journal, table);
    }
    overheadOverDevice(driver, oneMiB, mib, "fast", overheadTargetFast, fastRepetitions, journal, table);
    overheadOverDevice(driver, eightMiB, 8 * mib, "fast", overheadTargetFast, fastRepetitions, journal,
                       table);
}

} // namespace

void windowRuns(const QString &oneMiB, const QString &eightMiB, bool quick, const QString &journal,
                Table &table)
{
    {
        // The window alone, as an operator has it: the benchmark's lag ticks wake the window
        // a hundred times a second, which is the benchmark's cost, not the window's.
        WindowDriver driver(false);
        WindowDriver::spin(settleMs);
        overheadRuns(driver, oneMiB, eightMiB, quick, journal, table);
    }
    WindowDriver driver;
    WindowDriver::spin(settleMs);
    engineCost(driver, {{oneMiB, mib}, {eightMiB, 8 * mib}}, journal, table);
}

} // namespace bench
