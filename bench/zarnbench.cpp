// Benchmarks of the update utility on the simulated device. Prints one table:
// each figure beside its floor, measured in the same run. Never fails on a
// figure: the exit status says only whether the benchmarks could run.
//
//   zarn-bench                 all eight parts
//   ZARN_BENCH_QUICK=1         leaves out the slowest cases (8 MiB at NOR speed, about 30 s each)
//   zarn-bench --startup-only  only the start-up figures
//   zarn-bench --lists-only    only the long image lists
//   zarn-bench --engine-only MIB RUNS
//                              only updates of MIB MiB through the window on a
//                              zero-delay device, for a profiler

#include "benchclock.h"
#include "benchformat.h"
#include "benchtable.h"
#include "clibench.h"
#include "devicefloor.h"
#include "memorybench.h"
#include "startup.h"
#include "updatefilebuilder.h"
#include "windowdriver.h"
#include "zarnsim.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <thread>

namespace {

using bench::mib;
using bench::mibOfKib;
using bench::mibPerS;
using bench::ms;
using bench::progress;
using bench::Row;
using bench::RunTimes;
using bench::seconds;
using bench::settleMs;
using bench::sizeName;
using bench::Table;
using bench::WindowDriver;

constexpr quint32 imageAddress = 0;
constexpr quint32 transferSize = 1024;
// The largest block the engine takes, header included.
constexpr quint32 largestImage = 0x2000000;

constexpr double overheadTargetNor = 1.03;
constexpr double overheadTargetFast = 1.10;
constexpr double engineTargetUsPerBlock = 3.0;
constexpr double lagTargetMs = 16.0;
constexpr double finishTargetMs = 100.0;
constexpr double startupTarget = 1.2;

constexpr int fastRepetitions = 3;
constexpr int engineRepetitions = 5;
constexpr int startupRepetitions = 15;
constexpr int idleSampleMs = 1000;
constexpr int queuedCallSamples = 50;

const char engineOnlyOption[] = "--engine-only";
const char startupOnlyOption[] = "--startup-only";
const char listsOnlyOption[] = "--lists-only";

QString writeUpdateFile(const QDir &dir, quint32 blockSize)
{
    updatefile::Image image;
    image.name = "BNCH";
    image.version = 0x01000000;
    image.address = imageAddress;
    image.minHW = 1;
    image.data = updatefile::pattern(blockSize, int(blockSize) - updatefile::headerSize);
    const QString path = dir.filePath(QStringLiteral("bench-%1.zarnru").arg(blockSize / mib));
    if (!updatefile::writeFile(path, {image}))
        return QString();
    return path;
}

// 1. A full update against the time the device itself is busy.
void overheadOverDevice(WindowDriver &driver, const QString &file, quint32 size, const char *profile,
                        double target, int repetitions, Table &table)
{
    const QString figure =
        QStringLiteral("Update %1, \"%2\" device: wall time / device busy time").arg(sizeName(size), profile);
    progress(figure);
    zarnsim::setTiming(zarnsim::timingProfile(profile));
    zarnsim::setSleeping(true);
    QVector<double> ratios;
    QVector<qint64> walls;
    QVector<qint64> busies;
    for (int i = 0; i < repetitions; ++i) {
        zarnsim::resetBusy();
        const RunTimes run = driver.run(file);
        const qint64 busy = qint64(zarnsim::busyNanoseconds());
        if (!run.completed || busy == 0) {
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
        ratios.append(double(walls.last()) / double(busy));
    }
    const double ratio = bench::median(ratios);
    const int at = ratios.indexOf(ratio);
    const QString runs = repetitions > 1 ? QStringLiteral(" (median of %1)").arg(repetitions) : QString();
    table.add({QStringLiteral("1"), figure + runs, seconds(walls.at(at)), seconds(busies.at(at)) + " busy",
               QString::number(ratio, 'f', 3), QStringLiteral("<= %1").arg(target),
               bench::verdict(ratio <= target)});
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
void engineCost(WindowDriver &driver, const QList<QPair<QString, quint32>> &files, Table &table)
{
    zarnsim::setTiming(zarnsim::timingProfile("zero"));

    progress(QStringLiteral("checking that the floor makes the engine's device calls"));
    QString why;
    const QString &checkFile = files.first().first;
    const bool same = bench::sameDeviceCalls(
        checkFile, [&] { return driver.run(checkFile).completed; }, &why);
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
        bench::updateWithoutEngine(file);

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
            floorNs.append(bench::updateWithoutEngine(file));
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
             QStringLiteral("Worker finished() to updateFinished(), %1, max (median)").arg(sizeName(size)),
             ms(finishMax) + " (" + ms(bench::median(finishDelays)) + ")",
             ms(bench::maximum(queued), 2) + " (" + ms(bench::median(queued), 2) + ") queued call, idle GUI",
             QStringLiteral("max %1").arg(ms(finishMax)), QStringLiteral("<= %1 ms").arg(finishTargetMs),
             bench::verdict(finishMax / bench::nsPerMs <= finishTargetMs)});
    }
}

// 5. The real executable against a bare QMainWindow program, both started the
// same way; and, to tell the font system's share, a bare window with text.
void startup(Table &table)
{
    progress(QStringLiteral("start-up"));
    const QStringList preloads = {QStringLiteral(ZARN_BENCH_SIMULATOR), QStringLiteral(ZARN_BENCH_PROBE)};
    const QString product = QStringLiteral(ZARN_BENCH_PRODUCT);
    const QString bare = QStringLiteral(ZARN_BENCH_BARE_WINDOW);
    const QStringList withText = {QStringLiteral("--text")};
    // Warm the caches (fonts, libraries) for all three before counting.
    bench::timeToShown(product, {}, preloads);
    bench::timeToShown(bare, {}, preloads);
    bench::timeToShown(bare, withText, preloads);
    QVector<qint64> productNs;
    QVector<qint64> bareNs;
    QVector<qint64> textNs;
    for (int i = 0; i < startupRepetitions; ++i) {
        productNs.append(bench::timeToShown(product, {}, preloads));
        bareNs.append(bench::timeToShown(bare, {}, preloads));
        textNs.append(bench::timeToShown(bare, withText, preloads));
    }
    const QString figure = QStringLiteral("Process start to first window painted, offscreen (median of %1)")
                               .arg(startupRepetitions);
    if (productNs.contains(-1) || bareNs.contains(-1) || textNs.contains(-1)) {
        table.add({QStringLiteral("5"), figure, QStringLiteral("failed"), {}, {}, {}, QStringLiteral("NO")});
        return;
    }
    const double productMedian = bench::median(productNs);
    const double ratio = productMedian / double(bench::median(bareNs));
    table.add({QStringLiteral("5"), figure, ms(productMedian) + " (the utility)",
               ms(bench::median(bareNs)) + " (bare QMainWindow)", QString::number(ratio, 'f', 2) + " x",
               QStringLiteral("<= %1 x").arg(startupTarget), bench::verdict(ratio <= startupTarget)});
    const double textRatio = productMedian / double(bench::median(textNs));
    table.add({QStringLiteral("5"),
               QStringLiteral("The same, against a bare QMainWindow showing one line of text"),
               ms(productMedian) + " (the utility)", ms(bench::median(textNs)) + " (QMainWindow + QLabel)",
               QString::number(textRatio, 'f', 2) + " x", QStringLiteral("-"), QStringLiteral("-")});
}

int engineOnly(const QDir &dir, quint32 sizeMiB, int runs)
{
    const QString file = writeUpdateFile(dir, sizeMiB * mib);
    if (file.isEmpty() || sizeMiB == 0 || sizeMiB * mib > largestImage)
        return 1;
    zarnsim::reset();
    zarnsim::setRecording(false);
    WindowDriver driver;
    for (int i = 0; i < runs; ++i) {
        const RunTimes run = driver.run(file);
        progress(QStringLiteral("run %1: engine %2, finish delay %3, worst timer lag %4")
                     .arg(i + 1)
                     .arg(ms(run.finished - run.started), ms(run.windowDone - run.finished),
                          ms(bench::maximum(run.lagsNs))));
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bench::installMessageHandler();
    QApplication application(argc, argv);

    if (argc == 4 && QLatin1String(argv[1]) == QLatin1String(bench::memoryChildOption))
        return bench::memoryChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 3 && QLatin1String(argv[1]) == QLatin1String(bench::listChildOption))
        return bench::listChild(QString::fromLocal8Bit(argv[2]));

    QTemporaryDir dir;
    if (!dir.isValid()) {
        progress(QStringLiteral("cannot make a temporary directory"));
        return 1;
    }
    const QDir workDir(dir.path());
    if (argc == 4 && QLatin1String(argv[1]) == QLatin1String(engineOnlyOption))
        return engineOnly(workDir, QString::fromLocal8Bit(argv[2]).toUInt(),
                          QString::fromLocal8Bit(argv[3]).toInt());

    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String("--cli-only")) {
        Table table;
        bench::commandLineUpdate(writeUpdateFile(workDir, 8 * mib), 8 * mib, workDir.path(), table);
        bench::onlyChanged(8 * mib, workDir.path(), table);
        std::printf("%s", qPrintable(table.text()));
        return 0;
    }
    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String(listsOnlyOption)) {
        Table table;
        bench::imageLists(workDir, table);
        std::printf("%s", qPrintable(table.text()));
        return 0;
    }
    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String(startupOnlyOption)) {
        Table table;
        startup(table);
        std::printf("%s", qPrintable(table.text()));
        return 0;
    }
    const bool quick = qEnvironmentVariableIntValue("ZARN_BENCH_QUICK") != 0;
    const QString start = bench::loadAverage();
    const qint64 began = bench::nowNs();

    const QString oneMiB = writeUpdateFile(workDir, mib);
    const QString eightMiB = writeUpdateFile(workDir, 8 * mib);
    const QString largest = writeUpdateFile(workDir, largestImage);
    if (oneMiB.isEmpty() || eightMiB.isEmpty() || largest.isEmpty()) {
        progress(QStringLiteral("cannot write the update files"));
        return 1;
    }

    Table table;
    table.note(QStringLiteral(
        "1: wall time from the worker's hand-over (Update confirmed) to MainWindow::updateFinished(); "
        "busy time as the simulated device accounts it."));
    table.note(QStringLiteral(
        "2: engine time from process()'s first status line to its finished(), on the worker "
        "thread; the floor makes the same device calls from a plain thread; cost per block = "
        "(engine - floor) / number of 1 KiB device transfers (one write and one read per KiB)."));
    table.note(QStringLiteral(
        "3: lag = how much later than due each tick of a 10 ms precise timer on the GUI thread "
        "came while a run was under way; finish delay from the worker's finished() to "
        "updateFinished() running."));
    table.note(
        QStringLiteral("4: VmHWM of one child process per case; the simulated flash lives in the process, so "
                       "the floor is the idle window after the same device calls streamed 1 KiB at a time."));
    table.note(
        QStringLiteral("5: from posix_spawn to the end of the first paint pass (a preloaded probe reports "
                       "it); the simulated device is preloaded into every program."));
    table.note(QStringLiteral("7: zarn-update in a process of its own from spawn to exit; busy time as the "
                              "simulated device preloaded into it accounts it."));
    table.note(
        QStringLiteral("8: the full update and the two --only-changed ones on one simulated flash kept in a "
                       "file, one after the other in this run."));
    table.note(QStringLiteral("6: one child process per list: the dialog shown and its first events handled; "
                              "VmHWM after against VmHWM of the idle window before."));
    zarnsim::reset();
    zarnsim::setRecording(false);
    {
        WindowDriver driver;
        WindowDriver::spin(settleMs);
        overheadOverDevice(driver, oneMiB, mib, "nor", overheadTargetNor, 1, table);
        if (quick) {
            table.add({QStringLiteral("1"),
                       QStringLiteral("Update 8 MiB, \"nor\" device"),
                       QStringLiteral("left out (ZARN_BENCH_QUICK)"),
                       {},
                       {},
                       {},
                       QStringLiteral("-")});
        } else {
            overheadOverDevice(driver, eightMiB, 8 * mib, "nor", overheadTargetNor, 1, table);
        }
        overheadOverDevice(driver, oneMiB, mib, "fast", overheadTargetFast, fastRepetitions, table);
        overheadOverDevice(driver, eightMiB, 8 * mib, "fast", overheadTargetFast, fastRepetitions, table);
        engineCost(driver, {{oneMiB, mib}, {eightMiB, 8 * mib}}, table);
    }
    bench::memory({{oneMiB, mib}, {largest, largestImage}}, table);
    startup(table);
    bench::imageLists(workDir, table);
    if (!quick) {
        bench::commandLineUpdate(eightMiB, 8 * mib, workDir.path(), table);
        bench::onlyChanged(8 * mib, workDir.path(), table);
    }

    std::printf("## Benchmark results\n\n");
    for (const QString &line : bench::machineDescription())
        std::printf("- %s\n", qPrintable(line));
    std::printf("- Load average at start / end: %s / %s\n", qPrintable(start),
                qPrintable(bench::loadAverage()));
    std::printf("- Whole run: %.0f s\n\n", (bench::nowNs() - began) / bench::nsPerS);
    std::printf("%s", qPrintable(table.text()));
    return 0;
}
