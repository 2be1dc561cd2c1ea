// Benchmarks of the update utility on the simulated device. Prints one table:
// each figure beside its floor, measured in the same run. Never fails on a
// figure: the exit status says only whether the benchmarks could run.
//
//   zarn-bench                 all nine parts
//   ZARN_BENCH_QUICK=1         leaves out the slowest cases (8 MiB at NOR speed, about 30 s each)
//   zarn-bench --startup-only  only the start-up figures
//   zarn-bench --lists-only    only the long image lists
//   zarn-bench --window-only   only the updates through the window (1, 2 and 3)
//   zarn-bench --memory-only   only the peak memory of updates
//   zarn-bench --floor-only MIB [FILE]
//                              the device calls of an update of MIB MiB without the engine
//   zarn-bench --instructions-only
//                              only the instruction counts per block (callgrind)
//   zarn-bench --worker-only MIB FILE
//                              the same update without a window, nothing
//                              connected to its reports
//   zarn-bench --engine-only MIB RUNS [FILE]
//                              only updates of MIB MiB through the window on a
//                              zero-delay device, for a profiler
//   FILE: an update file of one MIB MiB image written beforehand, so that a
//   count of the whole process leaves out the making of the file

#include "benchclock.h"
#include "benchformat.h"
#include "benchtable.h"
#include "clibench.h"
#include "devicefloor.h"
#include "instructionbench.h"
#include "memorybench.h"
#include "runsession.h"
#include "startup.h"
#include "updatefilebuilder.h"
#include "updaterthread.h"
#include "updaterunner.h"
#include "updatesnapshot.h"
#include "windowapplication.h"
#include "windowbench.h"
#include "windowdriver.h"
#include "zarnsim.h"

#include <cstdio>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>

namespace {

using bench::mib;
using bench::ms;
using bench::progress;
using bench::RunTimes;
using bench::Table;
using bench::WindowDriver;

constexpr quint32 imageAddress = 0;
// The largest block the engine takes, header included.
constexpr quint32 largestImage = 0x2000000;

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

// The given file, or one of sizeMiB written now.
QString updateFile(const QDir &dir, quint32 sizeMiB, const char *given)
{
    return given ? QString::fromLocal8Bit(given) : writeUpdateFile(dir, sizeMiB * mib);
}

int engineOnly(const QString &file, quint32 sizeMiB, int runs)
{
    if (file.isEmpty() || sizeMiB == 0 || sizeMiB * mib > largestImage)
        return 1;
    zarnsim::reset();
    zarnsim::setRecording(false);
    // A profiler counts the window's work alone, without the benchmark's lag ticks.
    WindowDriver driver(false);
    for (int i = 0; i < runs; ++i) {
        const RunTimes run = driver.run(file);
        progress(QStringLiteral("run %1: engine %2, finish delay %3, worst timer lag %4")
                     .arg(i + 1)
                     .arg(ms(run.finished - run.started), ms(run.windowDone - run.finished),
                          ms(bench::maximum(run.lagsNs))));
    }
    return 0;
}

// The same update as a window's, started the same way, with nothing
// connected to its reports: the engine's own count, for the window's to be
// told apart from.
int workerOnly(const QString &file)
{
    zarnsim::reset();
    zarnsim::setRecording(false);
    const std::shared_ptr<const UpdateSnapshot> snapshot = UpdateSnapshot::capture(file);
    if (!snapshot)
        return 1;
    RunSession session;
    const UpdateRunner runner(&session);
    UpdateRunner::Options options;
    options.program = QStringLiteral("zarn-bench");
    options.journal.keepCopies = true;
    const UpdateRunner::Run run = runner.prepare(file, snapshot, options);
    QEventLoop loop;
    QObject::connect(run.worker, &UpdaterThread::finished, &loop, &QEventLoop::quit);
    QObject::connect(run.thread, &QThread::started, run.worker, &UpdaterThread::process);
    QObject::connect(run.worker, &UpdaterThread::finished, run.thread, &QThread::quit);
    QObject::connect(run.worker, &UpdaterThread::finished, run.worker, &QObject::deleteLater);
    QObject::connect(run.thread, &QThread::finished, run.thread, &QObject::deleteLater);
    if (!runner.start(run, options))
        return 1;
    loop.exec();
    return session.succeeded() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bench::installMessageHandler();
    WindowApplication application(argc, argv);

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
    if ((argc == 4 || argc == 5) && QLatin1String(argv[1]) == QLatin1String(engineOnlyOption)) {
        const quint32 size = QString::fromLocal8Bit(argv[2]).toUInt();
        return engineOnly(updateFile(workDir, size, argc == 5 ? argv[4] : nullptr), size,
                          QString::fromLocal8Bit(argv[3]).toInt());
    }

    if (argc == 4 && QLatin1String(argv[1]) == QLatin1String(bench::workerOnlyOption))
        return workerOnly(QString::fromLocal8Bit(argv[3]));
    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String("--window-only")) {
        Table table;
        const QString journal = workDir.filePath(QStringLiteral("floor-journal"));
        workDir.mkpath(journal);
        zarnsim::reset();
        zarnsim::setRecording(false);
        bench::windowRuns(writeUpdateFile(workDir, mib), writeUpdateFile(workDir, 8 * mib),
                          qEnvironmentVariableIntValue("ZARN_BENCH_QUICK") != 0, journal, table);
        std::printf("%s", qPrintable(table.text()));
        return 0;
    }
    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String("--cli-only")) {
        // As in the whole run: the fast device always, NOR speed unless quick.
        Table table;
        const QString eightMiB = writeUpdateFile(workDir, 8 * mib);
        bench::commandLineUpdate(eightMiB, 8 * mib, QStringLiteral("fast"), workDir.path(), table);
        if (qEnvironmentVariableIntValue("ZARN_BENCH_QUICK") == 0) {
            bench::commandLineUpdate(eightMiB, 8 * mib, QStringLiteral("nor"), workDir.path(), table);
            bench::onlyChanged(8 * mib, workDir.path(), table);
        }
        std::printf("%s", qPrintable(table.text()));
        return 0;
    }
    if ((argc == 3 || argc == 4) && QLatin1String(argv[1]) == QLatin1String(bench::floorOnlyOption)) {
        zarnsim::reset();
        zarnsim::setRecording(false);
        const QString file =
            updateFile(workDir, QString::fromLocal8Bit(argv[2]).toUInt(), argc == 4 ? argv[3] : nullptr);
        return bench::updateWithoutEngine(file) >= 0 ? 0 : 1;
    }
    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String("--instructions-only")) {
        Table table;
        bench::instructionsPerBlock(workDir, table);
        std::printf("%s", qPrintable(table.text()));
        return 0;
    }
    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String("--memory-only")) {
        Table table;
        bench::memory(
            {{writeUpdateFile(workDir, mib), mib}, {writeUpdateFile(workDir, largestImage), largestImage}},
            table);
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
        bench::startup(table);
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
        "1: wall time from the worker's hand-over (Update confirmed) to the window's end of the run (its "
        "RunSession's ended(), once the window has shown the end); busy time as the simulated device "
        "accounts it; the journal's disk time: the recovery copies every run keeps before it unlocks the "
        "flash (the update's bytes, the pages it erases, the entry naming them: each written 64 KiB a "
        "call, flushed, named and its folder flushed) and the entry once more at the end, kept by plain "
        "calls on the same disk right after each run. The ratio over the busy time alone stands beside it."));
    table.note(QStringLiteral(
        "2: engine time from process()'s first status line to its finished(), on the worker "
        "thread; the floor makes the same device calls from a plain thread, the pages to be erased read "
        "before the unlock into the same recovery copies, kept as the run keeps them but unhashed; cost "
        "per block = "
        "(engine - floor) / number of 1 KiB device transfers (one write and one read per KiB)."));
    table.note(QStringLiteral(
        "3: lag = how much later than due each tick of a 10 ms precise timer on the GUI thread "
        "came while a run was under way; finish delay from the worker's finished() to the window's "
        "end of the run."));
    table.note(
        QStringLiteral("4: VmHWM of one child process per case; the simulated flash lives in the process, so "
                       "the floor is the idle window, having shown the file's images as the confirmation "
                       "does, after the same device calls streamed 1 KiB at a time."));
    table.note(
        QStringLiteral("5: from posix_spawn to the end of the first paint pass (the kit's programdriver, "
                       "preloaded as the probe, reports it); the simulated device is preloaded into every "
                       "program. The form alone is the utility's form, built by its own code and shown by a "
                       "program that does nothing else."));
    table.note(QStringLiteral("7: zarn-update in a process of its own from spawn to exit; busy time as the "
                              "simulated device preloaded into it accounts it; the journal's disk time as in "
                              "1."));
    table.note(
        QStringLiteral("9: instructions counted by valgrind --tool=callgrind over the whole process, a "
                       "4 MiB update less a 1 MiB one, on a zero-delay device, divided by the 1 KiB "
                       "transfers of the extra 3 MiB (one write and one read per KiB): start-up and "
                       "every fixed cost drop out, whatever else the machine is doing."));
    table.note(
        QStringLiteral("8: the full update and the two --only-changed ones on one simulated flash kept in a "
                       "file, one after the other in this run."));
    table.note(QStringLiteral("6: one child process per list: the dialog shown and its first events handled; "
                              "VmHWM after against VmHWM of the idle window before."));
    zarnsim::reset();
    zarnsim::setRecording(false);
    const QString journal = workDir.filePath(QStringLiteral("floor-journal"));
    workDir.mkpath(journal);
    bench::windowRuns(oneMiB, eightMiB, quick, journal, table);
    bench::memory({{oneMiB, mib}, {largest, largestImage}}, table);
    bench::startup(table);
    bench::imageLists(workDir, table);
    bench::commandLineUpdate(eightMiB, 8 * mib, QStringLiteral("fast"), workDir.path(), table);
    bench::instructionsPerBlock(workDir, table);
    if (!quick) {
        bench::commandLineUpdate(eightMiB, 8 * mib, QStringLiteral("nor"), workDir.path(), table);
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
