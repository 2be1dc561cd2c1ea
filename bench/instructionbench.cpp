#include "instructionbench.h"

#include "benchformat.h"
#include "benchtable.h"
#include "updatefilebuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

namespace bench {

namespace {

// The two sizes whose difference is measured; the larger the gap, the less any
// run-to-run variation of the window's event loop weighs on each block.
constexpr int smallMiB = 1;
constexpr int largeMiB = 4;
// Every KiB is written once and read back once: the blocks a MiB costs.
constexpr double transfersPerMiB = 2 * 1024;

// The instructions program executed from start to exit under callgrind, or -1.
qint64 instructions(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &environment, const QString &outFile)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(QStringLiteral("valgrind"),
                QStringList{QStringLiteral("--tool=callgrind"),
                            QStringLiteral("--callgrind-out-file=") + outFile, program} +
                    arguments);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return -1;
    const QRegularExpressionMatch collected =
        QRegularExpression(QStringLiteral("Collected : (\\d+)"))
            .match(QString::fromLocal8Bit(child.readAllStandardError()));
    return collected.hasMatch() ? collected.captured(1).toLongLong() : -1;
}

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
    // [the floor, without, with the window][the small, the large update]
    qint64 counts[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    for (int i = 0; i < 2; ++i) {
        const int size = i == 0 ? smallMiB : largeMiB;
        progress(
            QStringLiteral("instructions of a %1 MiB update under callgrind: the floor, without and with the "
                           "window")
                .arg(size));
        updatefile::Image image;
        image.name = "CG";
        image.address = 0x100000;
        image.data = updatefile::pattern(7, size * int(mib));
        const QString file = workDir.filePath(QStringLiteral("callgrind-%1.zarnru").arg(size));
        if (!updatefile::writeFile(file, {image}))
            return;
        // One file for all three, written here: the making of it is no part of any count.
        counts[0][i] = instructions(self, {QLatin1String(floorOnlyOption), QString::number(size), file},
                                    zeroDelayDevice(workDir), outFile);
        counts[1][i] = instructions(QStringLiteral(ZARN_BENCH_CLI),
                                    {QStringLiteral("update"), QStringLiteral("--yes"), file}, cli, outFile);
        counts[2][i] = instructions(
            self, {QStringLiteral("--engine-only"), QString::number(size), QStringLiteral("1"), file},
            zeroDelayDevice(workDir), outFile);
    }
    const char *const names[] = {"The same device calls without the engine (floor)",
                                 "Engine without a window (zarn-update)", "Engine with the window"};
    double perBlock[3] = {0, 0, 0};
    for (int kind = 0; kind < 3; ++kind) {
        const QString figure = QStringLiteral("%1, zero-delay device: instructions per 1 KiB block")
                                   .arg(QLatin1String(names[kind]));
        if (counts[kind][0] <= 0 || counts[kind][1] <= counts[kind][0]) {
            table.add({QStringLiteral("9"),
                       figure,
                       QStringLiteral("run failed"),
                       tool,
                       {},
                       {},
                       QStringLiteral("NO")});
            return;
        }
        perBlock[kind] =
            double(counts[kind][1] - counts[kind][0]) / ((largeMiB - smallMiB) * transfersPerMiB);
        const QString result =
            kind == 0 ? QStringLiteral("%1 M / %2 M for %3 / %4 MiB")
                            .arg(counts[kind][0] / 1000000)
                            .arg(counts[kind][1] / 1000000)
                            .arg(smallMiB)
                            .arg(largeMiB)
                      : QStringLiteral("%1 over the floor").arg(perBlock[kind] - perBlock[0], 0, 'f', 0);
        table.add({QStringLiteral("9"),
                   figure,
                   QString::number(perBlock[kind], 'f', 0),
                   tool,
                   result,
                   {},
                   QStringLiteral("-")});
    }
    table.add({QStringLiteral("9"),
               QStringLiteral("What the window adds to each 1 KiB block"),
               QString::number(perBlock[2] - perBlock[1], 'f', 0) + " instructions",
               tool,
               {},
               {},
               QStringLiteral("-")});
}

} // namespace bench
