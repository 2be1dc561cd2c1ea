#include "instructionbench.h"

#include "benchclock.h"
#include "benchformat.h"
#include "benchtable.h"
#include "updatefilebuilder.h"

#include <array>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QVector>

namespace bench {

namespace {

// The two sizes whose difference is measured; the larger the gap, the less any
// run-to-run variation of the window's event loop weighs on each block.
constexpr int smallMiB = 1;
constexpr int largeMiB = 4;
// Every KiB is written once and read back once: the blocks a MiB costs.
constexpr double transfersPerMiB = 2 * 1024;
// What the window adds is counted this many times over; its counts may differ
// between runs by this share of their median at most.
constexpr int instructionRounds = 3;
constexpr double spreadTarget = 0.10;

QProcessEnvironment zeroDelayDevice(const QDir &workDir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZARNSIM_TIMING"), QStringLiteral("zero"));
    environment.insert(QStringLiteral("ZARNSIM_RECORD"), QStringLiteral("0"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), workDir.filePath(QStringLiteral("callgrind-state")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

} // namespace

qint64 instructions(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &environment, const QString &outFile)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(QStringLiteral("valgrind"),
                QStringList{QStringLiteral("--tool=callgrind"), QStringLiteral("--fair-sched=yes"),
                            QStringLiteral("--callgrind-out-file=") + outFile, program} +
                    arguments);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return -1;
    const QRegularExpressionMatch collected =
        QRegularExpression(QStringLiteral("Collected : (\\d+)"))
            .match(QString::fromLocal8Bit(child.readAllStandardError()));
    return collected.hasMatch() ? collected.captured(1).toLongLong() : -1;
}

void instructionsPerBlock(const QDir &workDir, Table &table)
{
    const QString tool = QStringLiteral("valgrind --tool=callgrind");
    if (QStandardPaths::findExecutable(QStringLiteral("valgrind")).isEmpty()) {
        table.add({QStringLiteral("9"),
                   QStringLiteral("Instructions per 1 KiB block"),
                   QStringLiteral("valgrind is not installed"),
                   {},
                   {},
                   {},
                   QStringLiteral("-")});
        return;
    }
    const QString outFile = workDir.filePath(QStringLiteral("callgrind.out"));
    QProcessEnvironment cli = zeroDelayDevice(workDir);
    cli.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARN_BENCH_SIMULATOR));
    const QString self = QCoreApplication::applicationFilePath();
    QString files[2];
    for (int i = 0; i < 2; ++i) {
        const int size = i == 0 ? smallMiB : largeMiB;
        updatefile::Image image;
        image.name = "CG";
        image.address = 0x100000;
        image.data = updatefile::pattern(7, size * int(mib));
        // One file for all the counts, written here: the making of it is no part of any count.
        files[i] = workDir.filePath(QStringLiteral("callgrind-%1.zarnru").arg(size));
        if (!updatefile::writeFile(files[i], {image}))
            return;
    }
    const char *const names[] = {"The same device calls without the engine (floor)",
                                 "The engine alone, nothing connected to its reports",
                                 "Engine without a window (zarn-update)", "Engine with the window"};
    constexpr int kinds = 4;
    // [round][the floor, the engine alone, zarn-update, with the window]
    QVector<std::array<double, kinds>> rounds;
    QVector<double> windowAdds;
    QString floorCounts;
    for (int round = 0; round < instructionRounds; ++round) {
        // [kind][the small, the large update]
        qint64 counts[kinds][2] = {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};
        for (int i = 0; i < 2; ++i) {
            const int size = i == 0 ? smallMiB : largeMiB;
            progress(
                QStringLiteral("instructions of a %1 MiB update under callgrind, round %2 of %3: the floor, "
                               "the engine alone, zarn-update and the window")
                    .arg(size)
                    .arg(round + 1)
                    .arg(instructionRounds));
            counts[0][i] =
                instructions(self, {QLatin1String(floorOnlyOption), QString::number(size), files[i]},
                             zeroDelayDevice(workDir), outFile);
            counts[1][i] =
                instructions(self, {QLatin1String(workerOnlyOption), QString::number(size), files[i]},
                             zeroDelayDevice(workDir), outFile);
            counts[2][i] =
                instructions(QStringLiteral(ZARN_BENCH_CLI),
                             {QStringLiteral("update"), QStringLiteral("--yes"), files[i]}, cli, outFile);
            counts[3][i] = instructions(
                self, {QStringLiteral("--engine-only"), QString::number(size), QStringLiteral("1"), files[i]},
                zeroDelayDevice(workDir), outFile);
        }
        std::array<double, kinds> perBlock{};
        for (int kind = 0; kind < kinds; ++kind) {
            if (counts[kind][0] <= 0 || counts[kind][1] <= counts[kind][0]) {
                table.add({QStringLiteral("9"),
                           QStringLiteral("%1, zero-delay device: instructions per 1 KiB block")
                               .arg(QLatin1String(names[kind])),
                           QStringLiteral("run failed"),
                           tool,
                           {},
                           {},
                           QStringLiteral("NO")});
                return;
            }
            perBlock[size_t(kind)] =
                double(counts[kind][1] - counts[kind][0]) / ((largeMiB - smallMiB) * transfersPerMiB);
        }
        floorCounts = QStringLiteral("%1 M / %2 M for %3 / %4 MiB")
                          .arg(counts[0][0] / 1000000)
                          .arg(counts[0][1] / 1000000)
                          .arg(smallMiB)
                          .arg(largeMiB);
        rounds.append(perBlock);
        windowAdds.append(perBlock[3] - perBlock[1]);
    }
    const auto each = [&rounds](int kind) {
        QStringList counts;
        for (const std::array<double, kinds> &perBlock : rounds)
            counts << QString::number(perBlock[size_t(kind)], 'f', 0);
        return counts.join(QStringLiteral(" / "));
    };
    for (int kind = 0; kind < kinds; ++kind) {
        QVector<double> kindCounts;
        QVector<double> overFloor;
        for (const std::array<double, kinds> &perBlock : rounds) {
            kindCounts.append(perBlock[size_t(kind)]);
            overFloor.append(perBlock[size_t(kind)] - perBlock[0]);
        }
        table.add({QStringLiteral("9"),
                   QStringLiteral("%1, zero-delay device: instructions per 1 KiB block, each of %2 runs")
                       .arg(QLatin1String(names[kind]))
                       .arg(instructionRounds),
                   each(kind),
                   tool,
                   kind == 0 ? floorCounts
                             : QStringLiteral("median %1 over the floor").arg(median(overFloor), 0, 'f', 0),
                   {},
                   QStringLiteral("-")});
    }
    const double middle = median(windowAdds);
    const double spread = (maximum(windowAdds) - minimum(windowAdds)) / middle;
    QStringList adds;
    for (double add : windowAdds)
        adds << QString::number(add, 'f', 0);
    table.add({QStringLiteral("9"),
               QStringLiteral("What the window adds to each 1 KiB block (with the window less the engine "
                              "alone), each of %1 runs")
                   .arg(instructionRounds),
               adds.join(QStringLiteral(" / ")) + " instructions", tool,
               QStringLiteral("spread %1 % of the median").arg(spread * 100, 0, 'f', 1),
               QStringLiteral("spread <= %1 %").arg(spreadTarget * 100, 0, 'f', 0),
               verdict(spread <= spreadTarget)});
}

} // namespace bench
