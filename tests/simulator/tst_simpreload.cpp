// The simulator as the demo and the benchmarks use it: preloaded into a
// process that does not link it, configured from the environment.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_SimPreload : public QObject
{
    Q_OBJECT

private slots:
    void configuredFromEnvironment_data();
    void configuredFromEnvironment();
    void flashPersistsBetweenProcesses();

private:
    static QString probe(const QStringList &environment, const QString &word, QString *errors = nullptr);
};

QString tst_SimPreload::probe(const QStringList &environment, const QString &word, QString *errors)
{
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARNSIM_LIBRARY));
    for (const QString &setting : environment)
        variables.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(variables);
    process.start(QStringLiteral(SIMPROBE), {word});
    if (!process.waitForFinished() || process.exitCode() != 0)
        return QStringLiteral("probe failed");
    if (errors)
        *errors = QString::fromLocal8Bit(process.readAllStandardError());
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

void tst_SimPreload::configuredFromEnvironment_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("output");

    QTest::newRow("defaults") << QStringList()
                              << QStringLiteral("answers 4030201 53202210 20301\nword ffffffff");
    QTest::newRow("answers") << QStringList{QStringLiteral("ZARNSIM_MAILBOX_ANSWERS=1,2,0x3")}
                             << QStringLiteral("answers 1 2 3\nword ffffffff");
    QTest::newRow("mailbox fails") << QStringList{QStringLiteral("ZARNSIM_MAILBOX_FAIL=3:EIO")}
                                   << QStringLiteral("answers 4030201 53202210 errno5\nword ffffffff");
    QTest::newRow("nodes missing") << QStringList{QStringLiteral("ZARNSIM_MISSING=both")}
                                   << QStringLiteral("mailbox errno 2\nflash errno 2");
    QTest::newRow("unlock refused") << QStringList{QStringLiteral("ZARNSIM_UNLOCK_REFUSED=1")}
                                    << QStringLiteral("answers 4030201 53202210 20301\nword ffffffff\n"
                                                      "write errno 1");
}

void tst_SimPreload::configuredFromEnvironment()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, output);
    QString errors;
    QCOMPARE(probe(environment, QStringLiteral("0"), &errors), output);
    QCOMPARE(errors, QString());
}

void tst_SimPreload::flashPersistsBetweenProcesses()
{
    QTemporaryDir dir;
    const QString flash = QStringLiteral("ZARNSIM_FLASH_FILE=") + dir.filePath(QStringLiteral("flash.img"));
    const QString recordPath = dir.filePath(QStringLiteral("record.txt"));
    QCOMPARE(probe({flash}, QStringLiteral("0x12345678")), QStringLiteral("answers 4030201 53202210 20301\n"
                                                                          "word ffffffff"));
    QCOMPARE(
        probe({flash, QStringLiteral("ZARNSIM_RECORD_FILE=") + recordPath}, QStringLiteral("0xFF00FF00")),
        QStringLiteral("answers 4030201 53202210 20301\nword 12345678"));
    QCOMPARE(probe({flash}, QStringLiteral("0")),
             QStringLiteral("answers 4030201 53202210 20301\nword 12005600"));

    QFile record(recordPath);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromLatin1(record.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 12);
    QCOMPARE(lines.at(0).section(QLatin1Char(' '), 0, 2), QStringLiteral("mailbox open flags=0x2"));
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("flash write address=0x1000 size=4 result=4"));
    QCOMPARE(lines.last(), QStringLiteral("flash close result=0"));

    // A bad value is reported and leaves the rest working.
    QString errors;
    QCOMPARE(probe({QStringLiteral("ZARNSIM_TIMING=slow")}, QStringLiteral("0"), &errors),
             QStringLiteral("answers 4030201 53202210 20301\nword ffffffff"));
    QVERIFY2(errors.startsWith(QStringLiteral("zarnsim: ZARNSIM_TIMING=slow ignored")), qPrintable(errors));
}

QTEST_GUILESS_MAIN(tst_SimPreload)
#include "tst_simpreload.moc"
