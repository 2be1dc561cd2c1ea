#include "benchtable.h"

#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>

namespace bench {

namespace {

QString firstMatch(const QString &path, const QString &pattern)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QRegularExpressionMatch match = QRegularExpression(pattern, QRegularExpression::MultilineOption)
                                              .match(QString::fromUtf8(file.readAll()));
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

QString cells(const QStringList &values)
{
    return QStringLiteral("| ") + values.join(QStringLiteral(" | ")) + QStringLiteral(" |");
}

} // namespace

QString Table::text() const
{
    QStringList lines;
    const QStringList header = {QStringLiteral("Part"),  QStringLiteral("Figure"), QStringLiteral("Measured"),
                                QStringLiteral("Floor"), QStringLiteral("Result"), QStringLiteral("Target"),
                                QStringLiteral("Met")};
    lines << cells(header);
    QStringList rule;
    for (int i = 0; i < header.size(); ++i)
        rule << QStringLiteral("---");
    lines << cells(rule);
    for (const Row &row : rows)
        lines << cells({row.part, row.figure, row.measured, row.floor, row.result, row.target, row.met});
    if (!notes.isEmpty()) {
        lines << QString();
        for (const QString &note : notes)
            lines << QStringLiteral("- ") + note;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QStringList machineDescription()
{
    const QString model =
        firstMatch(QStringLiteral("/proc/cpuinfo"), QStringLiteral("^model name\\s*:(.*)$"));
    const QString memoryKiB =
        firstMatch(QStringLiteral("/proc/meminfo"), QStringLiteral("^MemTotal:\\s*(\\d+)"));
    return {QStringLiteral("Cores (nproc): %1").arg(QThread::idealThreadCount()),
            QStringLiteral("CPU: %1").arg(model.isEmpty() ? QStringLiteral("unknown") : model),
            QStringLiteral("Memory: %1 MiB").arg(memoryKiB.toLongLong() / 1024),
            QStringLiteral("System: %1, kernel %2")
                .arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion())};
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

QString verdict(bool met)
{
    return met ? QStringLiteral("yes") : QStringLiteral("NO");
}

} // namespace bench
