// What zarn-update leaves for the tools and people after it, in child
// processes on one simulated flash kept in a file: its JSON events against
// their schema, a backup put back, and the history of what was done.

#include "tst_clirecords.h"

#include "childprocess.h"
#include "runkit.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <utility>

void TestCommandLineRecords::initTestCase()
{
    QVERIFY(dir.isValid());
    good = dir.filePath(QStringLiteral("good.zarnru"));
    other = dir.filePath(QStringLiteral("other.zarnru"));
    QVERIFY(updatefile::writeFile(good, runkit::threeImages(1)));
    QVERIFY(updatefile::writeFile(other, runkit::threeImages(7)));
    cli.flashFile = dir.filePath(QStringLiteral("flash.bin"));
    cli.stateDirectory = dir.filePath(QStringLiteral("state"));
}

void TestCommandLineRecords::init()
{
    zarnsim::reset();
    QFile::remove(cli.flashFile);
    QDir(cli.stateDirectory).removeRecursively();
}

void TestCommandLineRecords::jsonEventsFollowTheSchema()
{
    QProcess process;
    QCOMPARE(
        cli.run(process, {QStringLiteral("--json"), QStringLiteral("update"), QStringLiteral("--yes"), good}),
        0);
    const QString update = cli.output;
    // Each image's erasing is told as erasing, however far the run is ahead of the output.
    for (int image = 1; image <= 3; ++image)
        QVERIFY2(update.contains(
                     QStringLiteral("\"event\":\"progress\",\"image\":%1,\"images\":3,\"phase\":\"erasing\"")
                         .arg(image)),
                 qPrintable(update));
    // However many reports were folded into one on the way, the bars end where the run did.
    const QString ended = QStringLiteral("{\"current\":100,\"event\":\"progress\",\"image\":3,\"images\":3,"
                                         "\"phase\":\"final check\",\"total\":100}\n{\"event\":\"result\"");
    QVERIFY2(update.contains(ended), qPrintable(update.right(600)));
    // The trust store of the fixtures (an authority, its signer, a signer its list revokes; a list of
    // each format), and the history as the command lists it, each entry in the form its file holds.
    QCOMPARE(cli.run(process, {QStringLiteral("--json"), QStringLiteral("trust"), QStringLiteral(TRUSTED)}),
             0);
    QVERIFY2(cli.output.count("\"certificate\"") == 3 && cli.output.count("\"revocationList\"") == 2,
             qPrintable(cli.output));
    const QString trust = cli.output;
    QCOMPARE(cli.run(process, {QStringLiteral("--json"), QStringLiteral("history")}), 0);
    const QString history = cli.output;
    // A command that refuses ends with its result too, whatever it was asked.
    QString refusals;
    for (const QStringList &refused :
         {QStringList{QStringLiteral("check"), QStringLiteral("/nonexistent.zarnru")},
          QStringList{QStringLiteral("info"), QStringLiteral("/nonexistent.zarnru")}}) {
        QVERIFY(cli.run(process, QStringList{QStringLiteral("--json")} + refused) != 0);
        const QJsonObject end =
            QJsonDocument::fromJson(cli.output.trimmed().split(QLatin1Char('\n')).last().toUtf8()).object();
        QVERIFY2(end.value(QStringLiteral("event")) == QStringLiteral("result") &&
                     end.value(QStringLiteral("exitCode")).toInt() == 3,
                 qPrintable(cli.output));
        refusals += cli.output;
    }
    cli.output = history + refusals;
    const QString events = dir.filePath(QStringLiteral("events.jsonl"));
    QFile file(events);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(trust.toUtf8() + cli.output.toUtf8() + update.toUtf8());
    file.close();
    cli.output = update;
    QProcess check;
    check.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(CHECK_EVENTS), QStringLiteral(EVENTS_SCHEMA), events});
    QVERIFY(check.waitForFinished(runkit::runTimeoutMs));
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    const QJsonObject last =
        QJsonDocument::fromJson(cli.output.trimmed().split(QLatin1Char('\n')).last().toUtf8()).object();
    QCOMPARE(last.value(QStringLiteral("event")).toString(), QStringLiteral("result"));
    QCOMPARE(last.value(QStringLiteral("exitCode")).toInt(), 0);
    QVERIFY(cli.flashHolds(runkit::threeImages(1)));
}

// backup, an update with another file, the backup flashed back: the flash is as before.
void TestCommandLineRecords::backupPutsTheFlashBack()
{
    QProcess process;
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    const QString saved = dir.filePath(QStringLiteral("saved.zarnru"));
    QFile::remove(saved);
    QCOMPARE(cli.run(process, {QStringLiteral("backup"), good, saved}), 0);
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), other}), 0);
    QCOMPARE(cli.run(process, {QStringLiteral("verify"), good}), 7);
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), saved}), 0);
    QCOMPARE(cli.run(process, {QStringLiteral("verify"), good}), 0);
    QVERIFY(cli.flashHolds(runkit::threeImages(1)));
}

void TestCommandLineRecords::historyKeepsEveryUpdate()
{
    QProcess process;
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), other},
                     {QStringLiteral("ZARNSIM_FAIL_CALL=write:2:EIO")}),
             1);
    cli.start(process, {QStringLiteral("update"), QStringLiteral("--yes"), good},
              {QStringLiteral("ZARNSIM_HANG=write:4")});
    QVERIFY(testsupport::waitFor(
        [&] { return QDir(cli.history()).entryList({QStringLiteral("*.json")}).size() == 3; }));
    QTest::qWait(300);
    process.kill(); // in the middle of the write
    process.waitForFinished();

    QCOMPARE(cli.run(process, {QStringLiteral("--json"), QStringLiteral("history")}), 0);
    QStringList results;
    QString firstSha;
    for (const QString &line : cli.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
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
    QVERIFY2(cli.output.contains(QLatin1String("never ended")), qPrintable(cli.output));
    QVERIFY(!cli.flashHolds(runkit::threeImages(1)));

    // Two more updates: the copies of the newest two are kept, and those of the
    // failed one, never finished or undone; the first's and the interrupted one's
    // pre-images go (the interrupted one is settled by the update after it).
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), other}), 0);
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    const QDir journal(cli.history());
    QCOMPARE(journal.entryList({QStringLiteral("*.update")}).size(), 2); // good's and other's bytes
    QCOMPARE(journal.entryList({QStringLiteral("*.before")}).size(), 3);
}

// Every member of the group may write the journal's next entry and read each
// one, whatever the writer's umask. Where the journal cannot be written the
// user's own history takes the entry, said once, and both are listed.
void TestCommandLineRecords::journalIsTheGroups()
{
    QProcess process;
    cli.shell = QStringLiteral(R"(umask 077; exec "$0" "$@")");
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    cli.shell.clear();
    const auto modeOf = [](const QString &path) {
        struct stat status;
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
    };
    // The entry and the two recovery copies beside it.
    const QStringList files = QDir(cli.history()).entryList(QDir::Files);
    QVERIFY2(modeOf(cli.history()) == 02770 && files.size() == 3 && files.filter(".json").size() == 1,
             qPrintable(files.join(' ')));
    for (const QString &file : files)
        QCOMPARE(modeOf(cli.history() + '/' + file), 0660u);
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), other},
                     {QStringLiteral("ZARN_JOURNAL_DIR=/nonexistent")}),
             0);
    QCOMPARE(cli.output.count(
                 QStringLiteral("The system's journal /nonexistent cannot be written (No such file or "
                                "directory): the history is kept in %1/zarn-update-utility/history, "
                                "for this user only.")
                     .arg(cli.stateDirectory)),
             1);
    QCOMPARE(QDir(cli.history()).entryList({QStringLiteral("*.json")}, QDir::Files).size(), 1);
    QCOMPARE(cli.run(process, {QStringLiteral("history")}), 0);
    QCOMPARE(cli.output.count(QLatin1String(" succeeded ")), 2);
}

void TestCommandLineRecords::cutAndRecovered_data()
{
    QTest::addColumn<QString>("stage");    // the call cut: the first of an uncut run's record that matches
    QTest::addColumn<QString>("recovery"); // resume or restore
    QTest::addColumn<bool>("updated");     // else the flash is erased, as the update found it
    const QString erase = QStringLiteral("^flash ioctl request=0x4004423c");
    const QString write = QStringLiteral("^flash write address=0x40400 ");
    const QString repair = QStringLiteral("^flash write address=0x40100 size=4 ");
    const QString readBack = QStringLiteral("^flash read address=0xc0800 ");
    QTest::newRow("before the unlock, resumed") << QStringLiteral("^flash lseek") << "resume" << false;
    for (const auto &[name, call] : {std::pair<const char *, QString>{"an erase", erase},
                                     {"a write", write},
                                     {"a repair", repair},
                                     {"the final read-back", readBack}}) {
        QTest::addRow("in %s, resumed", name) << call << "resume" << true;
        QTest::addRow("in %s, restored", name) << call << "restore" << false;
    }
}

// A power cut in every stage of an update, the call torn, and the recovery
// after it: the flash holds the update, or what it held before.
void TestCommandLineRecords::cutAndRecovered()
{
    QFETCH(QString, stage);
    QFETCH(QString, recovery);
    QFETCH(bool, updated);
    const QString record = dir.filePath(QStringLiteral("uncut.record"));
    // A word at 0x40100 that holds only on its second write: a repair follows its verification.
    const QString weak = QStringLiteral("ZARNSIM_WEAK_WORDS=0x40100:2");
    QProcess process;
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good},
                     {weak, QStringLiteral("ZARNSIM_RECORD_FILE=") + record}),
             0);
    const int cut = runkit::cutPoint(record, stage);
    QVERIFY2(cut > 0, qPrintable(stage));
    const bool last = stage.startsWith(QLatin1String("^flash read")); // the update is whole by then
    init();
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good},
                     {weak, QStringLiteral("ZARNSIM_CUT=%1:7").arg(cut)}),
             -1);
    // Cut in the final read-back, the flash holds the update already, but the run never said so.
    QCOMPARE(cli.flashHolds(runkit::threeImages(1)), last);
    QCOMPARE(cli.run(process, {recovery, QStringLiteral("--yes")}), 0);
    QVERIFY2(cli.flashHolds(updated ? runkit::threeImages(1) : runkit::erasedLike(runkit::threeImages(1))),
             qPrintable(cli.output));
    if (recovery == QLatin1String("restore")) {
        // The cut update is no longer the newest: undoing it now would undo the restore unknowingly.
        const QString cutEntry =
            QDir(cli.history()).entryList({QStringLiteral("*.json")}).value(0).section('.', 0, 0);
        QCOMPARE(cli.run(process, {recovery, QStringLiteral("--yes"), cutEntry}), 3);
        QVERIFY(cli.output.contains(QLatin1String("Only the newest update can be undone")));
    }
}

void TestCommandLineRecords::keptCopiesJudged_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("damage"); // done to the journal after an update cut after its unlock
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("nothing to finish") << "resume"
                                       << "SUCCEEDED" << 0 << "Nothing to finish";
    QTest::newRow("a copy that is gone") << "resume"
                                         << "GONE" << 3 << "cannot be read";
    QTest::newRow("a pre-image cut short") << "restore"
                                           << "SHORT" << 4 << "has changed since it was kept";
    QTest::newRow("a copy named out of the journal") << "resume"
                                                     << "OUTSIDE" << 3 << "kept no copy of it";
}

// What the history names is judged before anything is written: a copy must be
// there, be what it was, and lie in the journal itself.
void TestCommandLineRecords::keptCopiesJudged()
{
    QFETCH(QString, command);
    QFETCH(QString, damage);
    QFETCH(int, status);
    QFETCH(QString, says);
    QProcess process;
    const bool succeeded = damage == QLatin1String("SUCCEEDED");
    QCOMPARE(cli.run(process, {QStringLiteral("update"), QStringLiteral("--yes"), good},
                     {succeeded ? QString() : QStringLiteral("ZARNSIM_CUT=400:3")}),
             succeeded ? 0 : -1);
    const QDir history(cli.history());
    const QString update = history.entryList({QStringLiteral("*.update")}).value(0);
    const QString entryPath = history.filePath(history.entryList({QStringLiteral("*.json")}).value(0));
    if (damage == QLatin1String("GONE"))
        QVERIFY(QFile::remove(history.filePath(update)));
    if (damage == QLatin1String("SHORT"))
        QVERIFY(
            QFile::resize(history.filePath(history.entryList({QStringLiteral("*.before")}).value(0)), 100));
    if (damage == QLatin1String("OUTSIDE")) {
        QFile entry(entryPath);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray moved = entry.readAll().replace(update.toLatin1(), "../../" + update.toLatin1());
        entry.close();
        QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate) && entry.write(moved) == moved.size());
    }
    QCOMPARE(cli.run(process, {command, QStringLiteral("--yes")}), status);
    QVERIFY2(cli.output.contains(says), qPrintable(cli.output));
    // Refused, the flash is as the cut left it; nothing to finish leaves the update.
    QCOMPARE(cli.flashHolds(runkit::threeImages(1)), succeeded);
}

// An entry still "started" names its process by number, boot and start time:
// after a restart, or once the number is another process's, the update it
// records never ended, however alive the number looks.
void TestCommandLineRecords::runnerKnownByMoreThanItsNumber_data()
{
    QTest::addColumn<bool>("sameBoot");
    QTest::addColumn<qint64>("startShift"); // from the live process's own start
    QTest::addColumn<QString>("result");
    QTest::newRow("its own process, running") << true << qint64(0) << "started";
    QTest::newRow("number taken after a restart") << false << qint64(0) << "interrupted";
    QTest::newRow("number taken by a later process") << true << qint64(-5) << "interrupted";
}

void TestCommandLineRecords::runnerKnownByMoreThanItsNumber()
{
    QFETCH(bool, sameBoot);
    QFETCH(qint64, startShift);
    QFETCH(QString, result);
    QFile bootId(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    QVERIFY(bootId.open(QIODevice::ReadOnly));
    const QString boot = QString::fromLatin1(bootId.readAll().trimmed());
    const qint64 pid = QCoreApplication::applicationPid();
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QVERIFY(stat.open(QIODevice::ReadOnly));
    const QByteArray fields = stat.readAll();
    const qint64 start = fields.mid(fields.lastIndexOf(')') + 2).split(' ').value(19).toLongLong();
    QVERIFY(start > 0);
    const QJsonObject entry{
        {"id", "20260101T000000000-1"},
        {"started", "2026-01-01T00:00:00.000Z"},
        {"result", "started"},
        {"pid", pid},
        {"boot", sameBoot ? boot : QStringLiteral("00000000-0000-4000-8000-000000000000")},
        {"processStart", start + startShift},
        {"file", good}};
    QVERIFY(QDir().mkpath(cli.history()));
    QFile file(QDir(cli.history()).filePath(QStringLiteral("20260101T000000000-1.json")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(entry).toJson()) > 0);
    file.close();
    QProcess process;
    QCOMPARE(cli.run(process, {QStringLiteral("--json"), QStringLiteral("history")}), 0);
    QJsonObject said;
    for (const QString &line : cli.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.contains(QLatin1String("\"event\":\"history\"")))
            said = QJsonDocument::fromJson(line.toUtf8()).object();
    QCOMPARE(said.value(QStringLiteral("result")).toString(), result);
}

QTEST_GUILESS_MAIN(TestCommandLineRecords)
