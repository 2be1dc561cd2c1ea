// zarn-update in child processes on one simulated flash kept in a file, as
// scripts and Ansible run it: every exit status, the JSON events against their
// schema, a backup put back, and the history of what was done.

#include "testsupport.h"
#include "updatefilebuilder.h"
#include "zarnsim.h"

#include <csignal>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const int processWaitMs = 60000;

QList<updatefile::Image> images(quint32 seed)
{
    QList<updatefile::Image> list;
    const quint32 addresses[] = {0x40000, 0x80000, 0xC0000};
    const QByteArray names[] = {"BOOT", "APP", "CONF"};
    for (int i = 0; i < 3; ++i)
        list << updatefile::Image{
            names[i], 0x01020304, addresses[i], 1, updatefile::pattern(seed + quint32(i), 3000 + 1000 * i),
            {}};
    return list;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void exitStatuses_data();
    void exitStatuses();
    void jsonEventsFollowTheSchema();
    void backupPutsTheFlashBack();
    void historyKeepsEveryUpdate();

private:
    // Runs zarn-update to its end (or starts it, when wait is false).
    int run(QProcess &process, const QStringList &arguments, const QStringList &environment = {},
            bool wait = true);
    bool flashHolds(const QList<updatefile::Image> &list);
    QString output;

    QTemporaryDir dir;
    QString good;
    QString other;
    QString flashFile;
};

void TestCommandLine::initTestCase()
{
    QVERIFY(dir.isValid());
    good = dir.filePath(QStringLiteral("good.zarnru"));
    other = dir.filePath(QStringLiteral("other.zarnru"));
    QVERIFY(updatefile::writeFile(good, images(1)));
    QVERIFY(updatefile::writeFile(other, images(7)));
    flashFile = dir.filePath(QStringLiteral("flash.bin"));
}

void TestCommandLine::init()
{
    zarnsim::reset();
    QFile::remove(flashFile);
    QDir(dir.filePath(QStringLiteral("state"))).removeRecursively();
}

int TestCommandLine::run(QProcess &process, const QStringList &arguments, const QStringList &environment,
                         bool wait)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARNSIM_LIBRARY));
    env.insert(QStringLiteral("ZARNSIM_FLASH_FILE"), flashFile);
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    // No system bus, as on a build machine: the update goes on without an inhibitor lock.
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    for (const QString &setting : environment)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(ZARN_UPDATE), arguments);
    if (!wait)
        return -1;
    if (!process.waitForFinished(processWaitMs))
        process.kill();
    output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool TestCommandLine::flashHolds(const QList<updatefile::Image> &list)
{
    zarnsim::reset();
    bool holds = zarnsim::setBackingFile(flashFile.toStdString());
    for (const updatefile::Image &image : list) {
        const std::vector<uint8_t> bytes = zarnsim::flashBytes(image.address, uint32_t(image.data.size()));
        holds = holds &&
                QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())) == image.data;
    }
    zarnsim::reset();
    return holds;
}

void TestCommandLine::exitStatuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::addColumn<bool>("flashed"); // else the flash holds none of the file's images

    QTest::newRow("good file") << QStringList{"update", "--yes", "good"} << QStringList() << 0
                               << "Done updating." << true;
    QTest::newRow("usage") << QStringList{"update"} << QStringList() << 2 << "Usage:" << false;
    QTest::newRow("refused file") << QStringList{"update", "--yes", "damaged"} << QStringList() << 3
                                  << "image header cut short" << false;
    QTest::newRow("refused checksum") << QStringList{"update", "--yes", "good", "badsum"} << QStringList()
                                      << 4 << "checksum differs" << false;
    QTest::newRow("no device") << QStringList{"update", "--yes", "good"}
                               << QStringList{"ZARNSIM_MISSING=flash"} << 5 << "Error opening /dev/zarn_flash"
                               << false;
    QTest::newRow("permission") << QStringList{"versions"} << QStringList{"ZARNSIM_MAILBOX_ERROR=EACCES"} << 5
                                << "member of the group zarn" << false;
    QTest::newRow("busy") << QStringList{"update", "--yes", "good", "busy"} << QStringList() << 6
                          << "Another update of the ZARN flash is under way (process" << false;
    QTest::newRow("failed verification")
        << QStringList{"verify", "good"} << QStringList() << 7 << "DIFFERS" << false;
    QTest::newRow("SIGTERM during the update")
        << QStringList{"update", "--yes", "good", "sigterm"} << QStringList{"ZARNSIM_TIMING=300000,0,0,0"}
        << 8 << "Done updating." << true;
    QTest::newRow("not confirmed") << QStringList{"update", "good"} << QStringList() << 9 << "--yes" << false;
}

void TestCommandLine::exitStatuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(bool, flashed);
    const QString damaged = dir.filePath(QStringLiteral("damaged.zarnru"));
    QFile::remove(damaged);
    QVERIFY(QFile::copy(good, damaged));
    QVERIFY(QFile::resize(damaged, 40));
    QFile::remove(good + QStringLiteral(".sha256"));
    if (arguments.removeAll(QStringLiteral("badsum"))) {
        QFile sum(good + QStringLiteral(".sha256"));
        QVERIFY(sum.open(QIODevice::WriteOnly));
        sum.write(QByteArray(64, '0') + "  good.zarnru\n");
    }
    const bool busy = arguments.removeAll(QStringLiteral("busy")) > 0;
    const bool sigterm = arguments.removeAll(QStringLiteral("sigterm")) > 0;
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^good$")), good);
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^damaged$")), damaged);

    QProcess holder; // holds the flash, hung in its first write
    if (busy) {
        run(holder, {QStringLiteral("update"), QStringLiteral("--yes"), other},
            {QStringLiteral("ZARNSIM_HANG=write:1")}, false);
        QVERIFY(testsupport::waitFor(
            [&] { return QFile::exists(flashFile) && holder.state() == QProcess::Running; }));
        QTest::qWait(500);
    }
    QProcess process;
    if (sigterm) {
        run(process, arguments, environment, false);
        QByteArray seen;
        QVERIFY(testsupport::waitFor([&] {
            seen += process.readAll();
            return seen.contains("Started erasing");
        }));
        QVERIFY(process.processId() > 0); // never a signal to this whole process group
        ::kill(pid_t(process.processId()), SIGTERM);
    }
    const int exit = sigterm ? (process.waitForFinished(processWaitMs),
                                output = QString::fromLocal8Bit(process.readAll()), process.exitCode())
                             : run(process, arguments, environment);
    if (busy) {
        holder.kill();
        holder.waitForFinished();
    }
    QVERIFY2(exit == status, qPrintable(QStringLiteral("exit %1: %2").arg(exit).arg(output)));
    QVERIFY2(output.contains(says), qPrintable(output));
    // Said exactly when an update ran and did not end with the flash holding the file.
    QCOMPARE(output.contains(QLatin1String("the update failed")),
             says.startsWith(QLatin1String("Error opening")));
    QCOMPARE(flashHolds(images(1)), flashed);
}

void TestCommandLine::jsonEventsFollowTheSchema()
{
    QProcess process;
    QCOMPARE(
        run(process, {QStringLiteral("--json"), QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    const QString events = dir.filePath(QStringLiteral("events.jsonl"));
    QFile file(events);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(output.toUtf8());
    file.close();
    QProcess check;
    check.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(CHECK_EVENTS), QStringLiteral(EVENTS_SCHEMA), events});
    QVERIFY(check.waitForFinished(processWaitMs));
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    const QJsonObject last =
        QJsonDocument::fromJson(output.trimmed().split(QLatin1Char('\n')).last().toUtf8()).object();
    QCOMPARE(last.value(QStringLiteral("event")).toString(), QStringLiteral("result"));
    QCOMPARE(last.value(QStringLiteral("exitCode")).toInt(), 0);
    QVERIFY(flashHolds(images(1)));
}

// backup, an update with another file, the backup flashed back: the flash is as before.
void TestCommandLine::backupPutsTheFlashBack()
{
    QProcess process;
    QCOMPARE(run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    const QString saved = dir.filePath(QStringLiteral("saved.zarnru"));
    QFile::remove(saved);
    QCOMPARE(run(process, {QStringLiteral("backup"), good, saved}), 0);
    QCOMPARE(run(process, {QStringLiteral("update"), QStringLiteral("--yes"), other}), 0);
    QCOMPARE(run(process, {QStringLiteral("verify"), good}), 7);
    QCOMPARE(run(process, {QStringLiteral("update"), QStringLiteral("--yes"), saved}), 0);
    QCOMPARE(run(process, {QStringLiteral("verify"), good}), 0);
    QVERIFY(flashHolds(images(1)));
}

void TestCommandLine::historyKeepsEveryUpdate()
{
    QProcess process;
    QCOMPARE(run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    QCOMPARE(run(process, {QStringLiteral("update"), QStringLiteral("--yes"), other},
                 {QStringLiteral("ZARNSIM_FAIL_CALL=write:2:EIO")}),
             1);
    run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good},
        {QStringLiteral("ZARNSIM_HANG=write:4")}, false);
    QVERIFY(testsupport::waitFor([&] {
        return QDir(dir.filePath(QStringLiteral("state/zarn-update-utility/history")))
                   .entryList({QStringLiteral("*.json")})
                   .size() == 3;
    }));
    QTest::qWait(300);
    process.kill(); // in the middle of the write
    process.waitForFinished();

    QCOMPARE(run(process, {QStringLiteral("--json"), QStringLiteral("history")}), 0);
    QStringList results;
    QString firstSha;
    for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject entry = QJsonDocument::fromJson(line.toUtf8()).object();
        if (entry.value(QStringLiteral("event")) != QLatin1String("history"))
            continue;
        results << entry.value(QStringLiteral("result")).toString();
        QVERIFY(entry.value(QStringLiteral("file")).toString().endsWith(QLatin1String(".zarnru")));
        QCOMPARE(entry.value(QStringLiteral("images")).toArray().size(), 3);
        QCOMPARE(entry.value(QStringLiteral("sha256")).toString().size(), 64);
    }
    QCOMPARE(results, QStringList({"succeeded", "failed", "interrupted"}));
    // The next start says that the last update never ended, and the flash shows it.
    QVERIFY2(output.contains(QLatin1String("never ended")), qPrintable(output));
    QVERIFY(!flashHolds(images(1)));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_cli.moc"
