#include "clibench.h"

#include "benchclock.h"
#include "benchformat.h"
#include "benchtable.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

namespace bench {

namespace {

constexpr double targetRatio = 1.02;

} // namespace

void commandLineUpdate(const QString &file, quint32 size, const QString &workDir, Table &table)
{
    const QString figure =
        QStringLiteral("zarn-update update %1, \"nor\" device: wall time / device busy time")
            .arg(sizeName(size));
    progress(figure);
    const QString busyFile = workDir + QStringLiteral("/cli-busy");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARN_BENCH_SIMULATOR));
    environment.insert(QStringLiteral("ZARNSIM_TIMING"), QStringLiteral("nor"));
    environment.insert(QStringLiteral("ZARNSIM_RECORD"), QStringLiteral("0"));
    environment.insert(QStringLiteral("ZARNSIM_BUSY_FILE"), busyFile);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), workDir + QStringLiteral("/state"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 start = nowNs();
    child.start(QStringLiteral(ZARN_BENCH_CLI), {QStringLiteral("update"), QStringLiteral("--yes"), file});
    const bool ran =
        child.waitForFinished(-1) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    const qint64 wall = nowNs() - start;
    QFile busyText(busyFile);
    const qint64 busy =
        ran && busyText.open(QIODevice::ReadOnly) ? busyText.readAll().trimmed().toLongLong() : 0;
    if (busy <= 0) {
        table.add(
            {QStringLiteral("7"), figure, QStringLiteral("run failed"), {}, {}, {}, QStringLiteral("NO")});
        return;
    }
    const double ratio = double(wall) / double(busy);
    table.add({QStringLiteral("7"), figure, seconds(wall), seconds(busy) + " busy",
               QString::number(ratio, 'f', 3), QStringLiteral("<= %1").arg(targetRatio),
               verdict(ratio <= targetRatio)});
}

} // namespace bench
