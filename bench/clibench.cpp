#include "clibench.h"

#include "benchclock.h"
#include "benchformat.h"
#include "benchtable.h"
#include "devicefloor.h"
#include "updatefilebuilder.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QVector>

namespace bench {

namespace {

constexpr double targetRatio = 1.02;
constexpr double fastTargetRatio = 1.03;
constexpr double unchangedTarget = 0.02;
constexpr double changedMargin = 0.05;
constexpr int imagesInFile = 3;

struct CliRun
{
    bool ok = false;
    qint64 wallNs = 0;
    qint64 busyNs = 0;
};

// zarn-update in a process of its own, the simulated device preloaded at the
// timing given, the flash in flashFile when one is given.
CliRun runCli(const QStringList &arguments, const QString &workDir, const QString &flashFile = QString(),
              const QString &timing = QStringLiteral("nor"))
{
    const QString busyFile = workDir + QStringLiteral("/cli-busy");
    QFile::remove(busyFile);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARN_BENCH_SIMULATOR));
    environment.insert(QStringLiteral("ZARNSIM_TIMING"), timing);
    environment.insert(QStringLiteral("ZARNSIM_RECORD"), QStringLiteral("0"));
    environment.insert(QStringLiteral("ZARNSIM_BUSY_FILE"), busyFile);
    if (!flashFile.isEmpty())
        environment.insert(QStringLiteral("ZARNSIM_FLASH_FILE"), flashFile);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), workDir + QStringLiteral("/state"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    CliRun run;
    const qint64 start = nowNs();
    child.start(QStringLiteral(ZARN_BENCH_CLI), arguments);
    run.ok = child.waitForFinished(-1) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    run.wallNs = nowNs() - start;
    QFile busyText(busyFile);
    if (run.ok && busyText.open(QIODevice::ReadOnly))
        run.busyNs = busyText.readAll().trimmed().toLongLong();
    return run;
}

QString writeThreeImages(const QString &path, quint32 size, quint32 seedOfSecond)
{
    QList<updatefile::Image> images;
    for (int i = 0; i < imagesInFile; ++i) {
        updatefile::Image image;
        image.name = QByteArray("IMG") + char('1' + i);
        image.address = quint32(i) * 0x1000000;
        image.data = updatefile::pattern(i == 1 ? seedOfSecond : quint32(i), int(size / imagesInFile));
        images << image;
    }
    return updatefile::writeFile(path, images) ? path : QString();
}

} // namespace

void commandLineUpdate(const QString &file, quint32 size, const QString &timing, const QString &workDir,
                       Table &table)
{
    // The fast device shows what the program itself costs; the median of a few runs stands for it.
    const bool fast = timing == QLatin1String("fast");
    const double target = fast ? fastTargetRatio : targetRatio;
    const QString figure =
        QStringLiteral("zarn-update update %1, \"%2\" device: wall time / (device busy time + journal's disk "
                       "time)%3")
            .arg(sizeName(size), timing, fast ? QStringLiteral(" (min / median / max of 3)") : QString());
    progress(figure);
    QVector<double> ratios;
    QVector<double> overBusy;
    CliRun middle;
    qint64 middleDisk = 0;
    const QString journal = workDir + QStringLiteral("/floor-journal");
    QDir().mkpath(journal);
    for (int i = 0; i < (fast ? 3 : 1); ++i) {
        const CliRun run =
            runCli({QStringLiteral("update"), QStringLiteral("--yes"), file}, workDir, QString(), timing);
        const qint64 disk = journalWithoutEngine(file, journal);
        if (!run.ok || run.busyNs <= 0 || disk < 0) {
            table.add({QStringLiteral("7"),
                       figure,
                       QStringLiteral("run failed"),
                       {},
                       {},
                       {},
                       QStringLiteral("NO")});
            return;
        }
        ratios << double(run.wallNs) / double(run.busyNs + disk);
        overBusy << double(run.wallNs) / double(run.busyNs);
        if (ratios.size() == 1 || i == 1) {
            middle = run;
            middleDisk = disk;
        }
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(overBusy.begin(), overBusy.end());
    const double median = ratios.at(ratios.size() / 2);
    const QString result = ratios.size() == 1 ? QString::number(median, 'f', 3)
                                              : QStringLiteral("%1 / %2 / %3")
                                                    .arg(ratios.first(), 0, 'f', 3)
                                                    .arg(median, 0, 'f', 3)
                                                    .arg(ratios.last(), 0, 'f', 3);
    table.add({QStringLiteral("7"), figure, seconds(middle.wallNs),
               seconds(middle.busyNs) + " busy + " + ms(middleDisk) + " journal",
               result + QStringLiteral(" (median %1 over the busy time alone)")
                            .arg(overBusy.at(overBusy.size() / 2), 0, 'f', 3),
               QStringLiteral("<= %1").arg(target), verdict(median <= target)});
}

void onlyChanged(quint32 size, const QString &workDir, Table &table)
{
    progress(QStringLiteral("zarn-update update --only-changed, \"nor\" device"));
    const QString flashFile = workDir + QStringLiteral("/only-changed-flash.bin");
    QFile::remove(flashFile);
    const QString same = writeThreeImages(workDir + QStringLiteral("/three.zarnru"), size, 1);
    const QString changed = writeThreeImages(workDir + QStringLiteral("/three-changed.zarnru"), size, 99);
    const QStringList update{QStringLiteral("update"), QStringLiteral("--yes")};
    const CliRun full = runCli(update + QStringList{same}, workDir, flashFile);
    const CliRun again =
        runCli(update + QStringList{QStringLiteral("--only-changed"), same}, workDir, flashFile);
    const CliRun oneImage =
        runCli(update + QStringList{QStringLiteral("--only-changed"), changed}, workDir, flashFile);
    const QString floor = QStringLiteral("%1 full update of the same file").arg(seconds(full.wallNs));
    if (!full.ok || !again.ok || !oneImage.ok) {
        table.add({QStringLiteral("8"),
                   QStringLiteral("--only-changed"),
                   QStringLiteral("run failed"),
                   {},
                   {},
                   {},
                   QStringLiteral("NO")});
        return;
    }
    const double againShare = double(again.wallNs) / double(full.wallNs);
    table.add({QStringLiteral("8"),
               QStringLiteral("--only-changed, %1 the flash already holds: wall time / full update")
                   .arg(sizeName(size)),
               seconds(again.wallNs), floor, QString::number(againShare * 100, 'f', 2) + " %",
               QStringLiteral("<= %1 %").arg(unchangedTarget * 100), verdict(againShare <= unchangedTarget)});
    const double oneShare = double(oneImage.wallNs) / double(full.wallNs);
    const double oneTarget = 1.0 / imagesInFile + changedMargin;
    table.add({QStringLiteral("8"),
               QStringLiteral("--only-changed, %1, one image of three changed: wall time / full update")
                   .arg(sizeName(size)),
               seconds(oneImage.wallNs), floor, QString::number(oneShare * 100, 'f', 1) + " %",
               QStringLiteral("<= %1 %").arg(oneTarget * 100, 0, 'f', 1), verdict(oneShare <= oneTarget)});
}

} // namespace bench
