// zarn-update in child processes on one simulated flash kept in a file, as
// scripts and Ansible run it: every exit status, and the flash's bytes after it.

#include "childprocess.h"
#include "runkit.h"

#include <csignal>
#include <fcntl.h>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using runkit::threeImages;

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void exitStatuses_data();
    void exitStatuses();

private:
    runkit::CommandLine cli;
    QTemporaryDir dir;
    QByteArray goodBytes;
    QString good;
    QString other;
    QString flashFile;
};

void TestCommandLine::initTestCase()
{
    QVERIFY(dir.isValid());
    good = dir.filePath(QStringLiteral("good.zarnru"));
    other = dir.filePath(QStringLiteral("other.zarnru"));
    QVERIFY(updatefile::writeFile(good, threeImages(1)));
    QVERIFY(updatefile::writeFile(other, threeImages(7)));
    QFile goodFile(good);
    QVERIFY(goodFile.open(QIODevice::ReadOnly));
    goodBytes = goodFile.readAll();
    flashFile = dir.filePath(QStringLiteral("flash.bin"));
    cli.flashFile = flashFile;
    cli.stateDirectory = dir.filePath(QStringLiteral("state"));
}

// The temporary directory cannot name what is not UTF-8 to remove it.
void TestCommandLine::cleanupTestCase()
{
    for (const char *suffix : {"", ".sha256"})
        ::unlink((QFile::encodeName(dir.path()) + "/bad\xff\xfename.zarnru" + suffix).constData());
}

void TestCommandLine::init()
{
    zarnsim::reset();
    QFile::remove(flashFile);
    QDir(dir.filePath(QStringLiteral("state"))).removeRecursively();
    cli.shell.clear();
}

void TestCommandLine::exitStatuses_data()
{
    QTest::addColumn<QStringList>("arguments"); // words in capitals set the row up; see exitStatuses()
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::addColumn<bool>("flashed");     // else the flash holds none of the file's images
    QTest::addColumn<bool>("mayNotStart"); // the update changed the flash and failed

    const QStringList none;
    const QString slow = QStringLiteral("ZARNSIM_TIMING=300000,0,0,0");
    const auto row = [](const char *name, const QStringList &arguments, const QStringList &environment,
                        int status, const char *says, bool flashed, bool mayNotStart = false) {
        QTest::newRow(name) << arguments << environment << status << QString::fromUtf8(says) << flashed
                            << mayNotStart;
    };
    row("good file", {"update", "--yes", "good"}, none, 0, "Done updating.", true);
    row("usage", {"update"}, none, 2, "Usage:", false);
    row("refused file", {"update", "--yes", "damaged"}, none, 3, "image header cut short", false);
    row("refused checksum", {"update", "--yes", "good", "BADSUM"}, none, 4, "checksum differs", false);
    row("checksum changed while the operator is asked", {"update", "good", "ASKED"}, none, 4,
        "did not take place: Error in", false);
    row("no device", {"update", "--yes", "good"}, {"ZARNSIM_MISSING=flash"}, 5,
        "did not take place: Error opening /dev/zarn_flash", false);
    row("permission", {"versions"}, {"ZARNSIM_MAILBOX_ERROR=EACCES"}, 5, "member of the group zarn", false);
    row("busy", {"update", "--yes", "good", "BUSY"}, none, 6,
        "Another update of the ZARN flash is under way (process", false);
    row("busy with a verification", {"update", "--yes", "good", "VERIFYING"}, none, 6,
        "The ZARN flash is being verified by zarn-update verify (process", false);
    row("failed verification", {"verify", "good"}, none, 7, "DIFFERS", false);
    row("erase fails", {"update", "--yes", "good"}, {"ZARNSIM_FAIL_CALL=erase:2:EIO"}, 1,
        "Error erasing page at 0x40000 (Input/output error)", false, true);
    row("erase fails, told in German, the cause kept in the system's words",
        {"--json", "update", "--yes", "good"}, {"ZARNSIM_FAIL_CALL=erase:2:EIO", "LC_ALL=de_DE.UTF-8"}, 1,
        "\"cause\":\"Input/output error\"", false); // its warnings are in German
    row("SIGTERM during the update", {"update", "--yes", "good", "SIGTERM"}, {slow}, 8, "Done updating.",
        true);
    row("SIGTERM during an update that then fails", {"update", "--yes", "good", "SIGTERM"},
        {slow, "ZARNSIM_FAIL_CALL=write:3:EIO"}, 1, "Error writing Flash memory at 0x40800", false, true);
    row("not confirmed", {"update", "good"}, none, 9, "--yes", false);
    row("output closed", {"update", "--yes", "good", "CLOSED"}, {slow}, 0, "", true);
    row("JSON output closed", {"--json", "update", "--yes", "good", "CLOSED"}, {slow}, 0, "", true);
    row("history unwritable", {"update", "--yes", "good"}, {"ZARN_JOURNAL_DIR=good", "XDG_STATE_HOME=good"},
        0, "The update will not be recorded in the history: cannot create", true);
    row("older image", {"update", "--yes", "good", "OLDER"}, {"TZ=UTC"}, 3,
        "1.2.34, older than version 1.2.35 written and verified at 0x40000 on 2026-03-04 05:06:07", false);
    row("older image, checked", {"check", "good", "OLDER"}, none, 3, "Give --allow-downgrade", false);
    row("older image, allowed", {"update", "--yes", "--allow-downgrade", "good", "OLDER"}, none, 0,
        "Going on as asked (--allow-downgrade): image 1 (BOOT) is version 1.2.34", true);
    row("newer elsewhere or unverified", {"update", "--yes", "good", "ELSEWHERE"}, none, 0, "Done updating.",
        true);
    row("an unreadable entry may be a newer image", {"check", "good", "FIFO"}, none, 3,
        "so whether an image is older than the one last written in its place cannot be checked", false);
    row("name not UTF-8, C locale", {"update", "--yes", "RAWNAME"}, {"LC_ALL=C"}, 0, "Done updating.", true);
    row("name not UTF-8, wrong checksum beside it", {"update", "--yes", "RAWNAME", "BADSUM"},
        {"LC_ALL=C.UTF-8"}, 4, "bad\\xff\\xfename.zarnru: its SHA-256 checksum differs", false);
    row("image needs newer hardware", {"update", "--yes", "good"}, {"ZARNSIM_MAILBOX_ANSWERS=1,0,1"}, 3,
        "image 1 (BOOT) needs hardware 1 or newer, image 2 (APP) needs hardware 1 or newer, "
        "image 3 (CONF) needs hardware 1 or newer; this system's hardware is 0",
        false);
    row("newer hardware, checked", {"check", "good"}, {"ZARNSIM_MAILBOX_ANSWERS=1,0,1"}, 3,
        "Give --allow-older-hardware", false);
    row("newer hardware, allowed", {"update", "--yes", "--allow-older-hardware", "good"},
        {"ZARNSIM_MAILBOX_ANSWERS=1,0,1"}, 0, "Going on as asked (--allow-older-hardware)", true);
    row("installed hardware unknown", {"update", "--yes", "good"}, {"ZARNSIM_MAILBOX_FAIL=1"}, 3,
        "the installed hardware value cannot be read", false);
    row("driver gives no versions", {"update", "--yes", "good"}, {"ZARNSIM_MAILBOX_FLAGS=15"}, 3,
        "the installed hardware value cannot be read (the ZARN driver gives none)", false);
    row("driver gives no hardware value", {"check", "good"}, {"ZARNSIM_MAILBOX_LATER_FLAGS=15"}, 3,
        "cannot be read (the ZARN driver gives none)", false);
    row("stand-in versions said", {"versions"}, {"ZARNSIM_MAILBOX_FLAGS=15"}, 0,
        "Hardware timestamp: 1406615411 (not given by the driver: a stand-in)", false);
    row("names that hold %1, in the history", {"history", "PERCENT"}, none, 0, "fw%1%3.zarnru  3 images",
        true);
    row("names that hold %1, listed", {"update", "--dry-run", "PERCENT"}, none, 0, "1. %5  version", false);
    row("dry run without the flash", {"update", "--dry-run", "good"}, {"ZARNSIM_MISSING=flash"}, 5,
        "Error opening /dev/zarn_flash", false);
    row("dry run", {"update", "--dry-run", "good", "RECORDED"}, none, 0,
        "An update would erase and write 3 of 3 pages, write 0 without erasing and leave 0", false);
    row("dry run of the changed pages",
        {"update", "--dry-run", "--only-changed", "good", "RECORDED", "UPDATED"}, none, 0,
        "erase and write 0 of 3 pages, write 0 without erasing and leave 3 as they are", true);
    row("control characters in an image name", {"info", "CONTROLS"}, none, 0, "1. \\x1b[2J", false);
    row("a NUL in the history", {"history", "NUL"}, none, 0, "cut\\x00short", false);
    row("a FIFO in the history", {"versions", "FIFO"}, none, 0,
        "fifo.json cannot be read and is passed over: not a regular file", false);
    row("a link to /dev/zero in the history", {"history", "ZERO"}, none, 0,
        "zero.json cannot be read and is passed over: not a regular file", false);
    row("an update that never ended, dated before one that succeeded", {"history", "FUTURE"}, none, 0,
        "from /killed.zarnru never ended", false);
    row("backup onto the update file", {"backup", "good", "good"}, none, 2, "is the update file itself",
        false);
    row("backup onto a link to the update file", {"backup", "good", "LINK"}, none, 2,
        "is the update file itself", false);
    row("backup onto a device node", {"backup", "good", "/dev/null"}, none, 2, "is not a regular file",
        false);
    row("backup over a file", {"backup", "good", "EXISTING"}, none, 2, "give --force", false);
    row("backup over a file with --force", {"backup", "--force", "good", "EXISTING"}, none, 0, "Saved",
        false);
    row("trust store listed", {"trust", "TRUSTED"}, none, 0, "CN=Another Authority (not installed)", false);
    row("trust store with a broken list", {"trust", "TRUSTED", "BROKENLIST"}, none, 4,
        "Error reading revocation list", false);
    row("trust store with a list that does not verify", {"trust", "TRUSTED", "FORGEDLIST"}, none, 4,
        "  refuses       every update file: its signature does not verify", false);
    row("trust folder not there", {"trust", "/nonexistent"}, none, 2, "/nonexistent does not exist", false);
}

void TestCommandLine::exitStatuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(bool, flashed);
    QFETCH(bool, mayNotStart);
    const auto setUp = [&](const char *word) { return arguments.removeAll(QLatin1String(word)) > 0; };
    const QString damaged = dir.filePath(QStringLiteral("damaged.zarnru"));
    QFile::remove(damaged);
    QVERIFY(QFile::copy(good, damaged));
    QVERIFY(QFile::resize(damaged, 40));
    // A name that is not UTF-8, made and named through its bytes alone.
    const QByteArray rawName = QFile::encodeName(dir.path()) + "/bad\xff\xfename.zarnru";
    if (setUp("RAWNAME")) {
        ::unlink(rawName.constData());
        QCOMPARE(::link(QFile::encodeName(good).constData(), rawName.constData()), 0);
        cli.shell = QStringLiteral(R"sh(exec "$0" "${@:1:$#-1}" "$(printf "${@: -1}")")sh");
        arguments << dir.filePath(QStringLiteral("bad\\377\\376name.zarnru"));
    }
    const QString existing = dir.filePath(QStringLiteral("existing.zarnru"));
    const QString link = dir.filePath(QStringLiteral("link.zarnru"));
    QFile::remove(existing);
    QFile::remove(link);
    QVERIFY(QFile::copy(other, existing));
    QVERIFY(QFile::link(good, link));
    const QString controls = dir.filePath(QStringLiteral("controls.zarnru"));
    QVERIFY(updatefile::writeFile(controls, {{"\x1b[2J", 1, 0x40000, 1, updatefile::pattern(1, 100), {}}}));
    for (const QByteArray &sum : {QFile::encodeName(good) + ".sha256", rawName + ".sha256"})
        ::unlink(sum.constData());
    const auto writeBadSum = [&](const QByteArray &file) {
        const QByteArray line = QByteArray(64, '0') + "  x.zarnru\n";
        const int fd = ::open((file + ".sha256").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool written = fd >= 0 && ::write(fd, line.constData(), size_t(line.size())) == line.size();
        return ::close(fd) == 0 && written;
    };
    if (setUp("BADSUM"))
        QVERIFY(writeBadSum(arguments.contains(QLatin1String("good")) ? QFile::encodeName(good) : rawName));
    const QString history = dir.filePath(QStringLiteral("state/zarn-update-utility/history"));
    QVERIFY(QDir().mkpath(history));
    const auto writeEntry = [&](const char *name, const QByteArray &json) {
        QFile entry(history + QLatin1Char('/') + QLatin1String(name));
        return entry.open(QIODevice::WriteOnly) && entry.write(json) == json.size();
    };
    // Newer images verified in the place of good's first; elsewhere, not verified, or written again older.
    if (setUp("OLDER"))
        QVERIFY(runkit::writeJournal(cli.history(),
                                     {{"2026-03-04T05:06:07Z", "succeeded", "BOOT", 0x40000, 0x01020305},
                                      {"2026-03-04T04:00:00Z", "succeeded", "BOOT", 0x40000, 1}}));
    if (setUp("ELSEWHERE"))
        QVERIFY(runkit::writeJournal(cli.history(), {{"2026-01-01", "succeeded", "BOOT", 0x40000, 0x01020305},
                                                     {"2026-01-02", "succeeded", "BOOT", 0x40000, 1},
                                                     {"2026-01-03", "succeeded", "BOOT", 0x80000, 0x01020305},
                                                     {"2026-01-04", "failed", "CONF", 0xC0000, 0x01020305}}));
    if (setUp("NUL"))
        QVERIFY(writeEntry("20260101T000000000-1.json",
                           R"({"id": "x", "started": "2026-01-01T00:00:00.000Z", "result": "failed",
                               "lastLine": "cut\u0000short", "images": []})"));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    if (setUp("FIFO")) {
        QFile::remove(fifo);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link(fifo, history + QStringLiteral("/fifo.json")));
    }
    if (setUp("ZERO"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), history + QStringLiteral("/zero.json")));
    // Killed by a process long gone, and a clock once set years ahead for the update after it.
    if (setUp("FUTURE"))
        QVERIFY(writeEntry("a.json", R"({"started": "2026-01-01T00:00:00.000Z", "result": "started",
                                         "pid": 2147483000, "file": "/killed.zarnru"})") &&
                writeEntry("b.json", R"({"started": "2099-01-01T00:00:00.000Z", "result": "succeeded"})"));
    // Names that hold what a chain of substitutions would take for its own.
    const QString percent = dir.filePath(QStringLiteral("fw%1%3.zarnru"));
    if (setUp("PERCENT")) {
        QList<updatefile::Image> named = threeImages(1);
        named[0].name = "%5";
        QVERIFY(updatefile::writeFile(percent, named));
        QProcess before;
        if (arguments.contains(QLatin1String("history")))
            QCOMPARE(cli.run(before, {QStringLiteral("update"), QStringLiteral("--yes"), percent}), 0);
        else
            arguments << percent;
    }
    if (setUp("UPDATED")) {
        QProcess before;
        QCOMPARE(cli.run(before, {QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    }
    const QString record = dir.filePath(QStringLiteral("record.txt"));
    QFile::remove(record);
    if (setUp("RECORDED"))
        environment << QStringLiteral("ZARNSIM_RECORD_FILE=") + record;
    const QString brokenList = dir.filePath(QStringLiteral("broken"));
    if (setUp("BROKENLIST")) {
        QVERIFY(QDir().mkpath(brokenList));
        QFile list(brokenList + QStringLiteral("/vendor.crl"));
        QVERIFY(list.open(QIODevice::WriteOnly) && list.write("not a list\n") > 0);
        arguments << brokenList;
    }
    const QString forgedList = dir.filePath(QStringLiteral("forged"));
    if (setUp("FORGEDLIST")) {
        QVERIFY(runkit::forgeList(QStringLiteral(TRUSTED "/vendor.crl"),
                                  forgedList + QStringLiteral("/vendor.crl")));
        arguments << forgedList;
    }
    const bool busy = setUp("BUSY");
    const bool verifying = setUp("VERIFYING");
    const bool sigterm = setUp("SIGTERM");
    const bool asked = setUp("ASKED");
    if (setUp("CLOSED"))
        cli.shell = QStringLiteral(R"("$0" "$@" | head -n 1 >/dev/null; exit "${PIPESTATUS[0]}")");
    if (asked)
        cli.shell = QStringLiteral(R"sh(exec script -qefc "$(printf '%q ' "$0" "$@")" /dev/null)sh");
    const QMap<QString, QString> names{{"good", good},         {"damaged", damaged},   {"LINK", link},
                                       {"EXISTING", existing}, {"CONTROLS", controls}, {"TRUSTED", TRUSTED}};
    for (QString &word : arguments)
        word = names.value(word, word);
    environment.replaceInStrings(QRegularExpression(QStringLiteral("=good$")), QLatin1Char('=') + good);

    QProcess holder; // holds the flash, hung in its first write or read
    if (busy || verifying) {
        cli.start(holder,
                  busy ? QStringList{QStringLiteral("update"), QStringLiteral("--yes"), other}
                       : QStringList{QStringLiteral("verify"), other},
                  {busy ? QStringLiteral("ZARNSIM_HANG=write:1") : QStringLiteral("ZARNSIM_HANG=read:1")});
        QVERIFY(testsupport::waitFor(
            [&] { return QFile::exists(flashFile) && holder.state() == QProcess::Running; }));
        QTest::qWait(500);
    }
    QProcess process;
    if (sigterm || asked) {
        cli.start(process, arguments, environment);
        QByteArray seen;
        QVERIFY(testsupport::waitFor([&] {
            seen += process.readAll();
            return seen.contains(asked ? "[y/N]" : "Started erasing");
        }));
        if (asked) {
            // The file was judged before the question; the run judges it again.
            QVERIFY(writeBadSum(QFile::encodeName(good)));
            process.write("y\n");
        } else {
            QVERIFY(process.processId() > 0); // never a signal to this whole process group
            ::kill(pid_t(process.processId()), SIGTERM);
        }
    }
    const int exit = sigterm || asked ? cli.finish(process) : cli.run(process, arguments, environment);
    if (busy || verifying) {
        holder.kill();
        holder.waitForFinished();
    }
    QVERIFY2(exit == status, qPrintable(QStringLiteral("exit %1: %2").arg(exit).arg(cli.output)));
    QVERIFY2(cli.output.contains(says), qPrintable(cli.output));
    // Said exactly when an update changed the flash and did not end with it holding the file.
    QCOMPARE(cli.output.contains(QLatin1String("the update failed")), mayNotStart);
    // An update an earlier run left unfinished says so too.
    QCOMPARE(cli.output.contains(QLatin1String("may not start")),
             mayNotStart || says.endsWith(QLatin1String("never ended")));
    // Nothing a name or a file holds reaches the terminal as a control character.
    if (!asked)
        QVERIFY2(!cli.output.contains(QRegularExpression(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f]"))),
                 qPrintable(cli.output));
    QCOMPARE(cli.flashHolds(threeImages(1)), flashed);
    QFile goodFile(good);
    QVERIFY(goodFile.open(QIODevice::ReadOnly));
    QVERIFY(goodFile.readAll() == goodBytes);
    if (status == 0 && arguments.contains(QLatin1String("update")) &&
        !environment.join(' ').contains("XDG") && !arguments.contains(QLatin1String("--dry-run"))) {
        // The history holds the run, whatever became of its cli.output.
        cli.shell.clear();
        QCOMPARE(cli.run(process, {QStringLiteral("history")}), 0);
        QVERIFY2(cli.output.contains(QLatin1String(" succeeded ")), qPrintable(cli.output));
        QCOMPARE(cli.run(process, {QStringLiteral("--json"), QStringLiteral("history")}), 0);
        for (const QString &passedOver :
             {QStringLiteral("allow-older-hardware"), QStringLiteral("allow-downgrade")})
            QCOMPARE(cli.output.contains(QStringLiteral("\"overrides\":[\"%1\"]").arg(passedOver)),
                     arguments.contains(QStringLiteral("--") + passedOver));
    }
    if (QFile::exists(record)) {
        // A dry run neither unlocks, nor erases, nor writes; the update that
        // follows erases and writes the pages it planned.
        const auto callsMade = [&record] {
            QFile calls(record);
            return calls.open(QIODevice::ReadOnly) ? calls.readAll() : QByteArray();
        };
        const QByteArray planned = callsMade();
        QVERIFY2(planned.contains("flash open") && !planned.contains("flash ioctl") &&
                     !planned.contains("flash write"),
                 planned.constData());
        const QRegularExpressionMatch plan =
            QRegularExpression(QStringLiteral("erase and write (\\d+) of \\d+ pages, write (\\d+) without"))
                .match(cli.output);
        QVERIFY(plan.hasMatch());
        arguments.removeAll(QStringLiteral("--dry-run"));
        QFile::remove(record);
        QCOMPARE(cli.run(process, arguments + QStringList{QStringLiteral("--yes")}, environment), 0);
        QSet<QByteArray> erased;
        QSet<quint64> written;
        for (const QByteArray &call : callsMade().split('\n')) {
            const QRegularExpressionMatch at =
                QRegularExpression(QStringLiteral("address=0x([0-9a-f]+)")).match(QString::fromLatin1(call));
            if (call.contains("request=0x4004423c"))
                erased << call.mid(call.indexOf("argument="));
            else if (call.startsWith("flash write") && at.hasMatch())
                written << at.captured(1).toULongLong(nullptr, 16) / 0x20000;
        }
        QCOMPARE(erased.size(), plan.captured(1).toInt());
        QCOMPARE(written.size(), plan.captured(1).toInt() + plan.captured(2).toInt());
        QVERIFY(cli.flashHolds(threeImages(1)));
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_cli.moc"
