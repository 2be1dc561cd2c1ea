// zarn-update in child processes on one simulated flash kept in a file, as
// scripts and Ansible run it: every exit status, the JSON events against their
// schema, a backup put back, and the history of what was done.

#include "testsupport.h"
#include "updatefilebuilder.h"
#include "zarnsim.h"

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
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

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
    void cleanupTestCase();
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
    // When set, zarn-update is started by bash running this, with the program as $0.
    QString shell;

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
    QVERIFY(updatefile::writeFile(good, images(1)));
    QVERIFY(updatefile::writeFile(other, images(7)));
    QFile goodFile(good);
    QVERIFY(goodFile.open(QIODevice::ReadOnly));
    goodBytes = goodFile.readAll();
    flashFile = dir.filePath(QStringLiteral("flash.bin"));
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
    shell.clear();
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
    if (shell.isEmpty())
        process.start(QStringLiteral(ZARN_UPDATE), arguments);
    else
        process.start(QStringLiteral("/bin/bash"),
                      QStringList{QStringLiteral("-c"), shell, QStringLiteral(ZARN_UPDATE)} + arguments);
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
    row("SIGTERM during the update", {"update", "--yes", "good", "SIGTERM"}, {slow}, 8, "Done updating.",
        true);
    row("SIGTERM during an update that then fails", {"update", "--yes", "good", "SIGTERM"},
        {slow, "ZARNSIM_FAIL_CALL=write:3:EIO"}, 1, "Error writing Flash memory at 0x40800", false, true);
    row("not confirmed", {"update", "good"}, none, 9, "--yes", false);
    row("output closed", {"update", "--yes", "good", "CLOSED"}, {slow}, 0, "", true);
    row("JSON output closed", {"--json", "update", "--yes", "good", "CLOSED"}, {slow}, 0, "", true);
    row("history cannot be written", {"update", "--yes", "good"}, {"XDG_STATE_HOME=good"}, 0,
        "The update will not be recorded in the history: cannot create", true);
    row("name not UTF-8, C locale", {"update", "--yes", "RAWNAME"}, {"LC_ALL=C"}, 0, "Done updating.", true);
    row("name not UTF-8, wrong checksum beside it", {"update", "--yes", "RAWNAME", "BADSUM"},
        {"LC_ALL=C.UTF-8"}, 4, "bad\\xff\\xfename.zarnru: its SHA-256 checksum differs", false);
    row("control characters in an image name", {"info", "CONTROLS"}, none, 0, "1. \\x1b[2J", false);
    row("a NUL in the history", {"history", "NUL"}, none, 0, "cut\\x00short", false);
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
        shell = QStringLiteral(R"sh(exec "$0" "${@:1:$#-1}" "$(printf "${@: -1}")")sh");
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
    if (setUp("NUL")) {
        const QString history = dir.filePath(QStringLiteral("state/zarn-update-utility/history"));
        QVERIFY(QDir().mkpath(history));
        QFile entry(history + QStringLiteral("/20260101T000000000-1.json"));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write(R"({"id": "x", "started": "2026-01-01T00:00:00.000Z", "result": "failed",
                        "lastLine": "cut\u0000short", "images": []})");
    }
    const QString brokenList = dir.filePath(QStringLiteral("broken"));
    if (setUp("BROKENLIST")) {
        QVERIFY(QDir().mkpath(brokenList));
        QFile list(brokenList + QStringLiteral("/vendor.crl"));
        QVERIFY(list.open(QIODevice::WriteOnly) && list.write("not a list\n") > 0);
        arguments << brokenList;
    }
    const bool busy = setUp("BUSY");
    const bool verifying = setUp("VERIFYING");
    const bool sigterm = setUp("SIGTERM");
    const bool asked = setUp("ASKED");
    if (setUp("CLOSED"))
        shell = QStringLiteral(R"("$0" "$@" | head -n 1 >/dev/null; exit "${PIPESTATUS[0]}")");
    if (asked)
        shell = QStringLiteral(R"sh(exec script -qefc "$(printf '%q ' "$0" "$@")" /dev/null)sh");
    const QMap<QString, QString> names{{"good", good},         {"damaged", damaged},   {"LINK", link},
                                       {"EXISTING", existing}, {"CONTROLS", controls}, {"TRUSTED", TRUSTED}};
    for (QString &word : arguments)
        word = names.value(word, word);
    environment.replaceInStrings(QRegularExpression(QStringLiteral("=good$")), QLatin1Char('=') + good);

    QProcess holder; // holds the flash, hung in its first write or read
    if (busy || verifying) {
        run(holder,
            busy ? QStringList{QStringLiteral("update"), QStringLiteral("--yes"), other}
                 : QStringList{QStringLiteral("verify"), other},
            {busy ? QStringLiteral("ZARNSIM_HANG=write:1") : QStringLiteral("ZARNSIM_HANG=read:1")}, false);
        QVERIFY(testsupport::waitFor(
            [&] { return QFile::exists(flashFile) && holder.state() == QProcess::Running; }));
        QTest::qWait(500);
    }
    QProcess process;
    if (sigterm || asked) {
        run(process, arguments, environment, false);
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
    const int exit = sigterm || asked
                         ? (process.waitForFinished(processWaitMs),
                            output = QString::fromLocal8Bit(process.readAll()), process.exitCode())
                         : run(process, arguments, environment);
    if (busy || verifying) {
        holder.kill();
        holder.waitForFinished();
    }
    QVERIFY2(exit == status, qPrintable(QStringLiteral("exit %1: %2").arg(exit).arg(output)));
    QVERIFY2(output.contains(says), qPrintable(output));
    // Said exactly when an update changed the flash and did not end with it holding the file.
    QCOMPARE(output.contains(QLatin1String("the update failed")), mayNotStart);
    QCOMPARE(output.contains(QLatin1String("may not start")), mayNotStart);
    // Nothing a name or a file holds reaches the terminal as a control character.
    if (!asked)
        QVERIFY2(!output.contains(QRegularExpression(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f]"))),
                 qPrintable(output));
    QCOMPARE(flashHolds(images(1)), flashed);
    QFile goodFile(good);
    QVERIFY(goodFile.open(QIODevice::ReadOnly));
    QVERIFY(goodFile.readAll() == goodBytes);
    if (status == 0 && arguments.contains(QLatin1String("update")) &&
        !environment.join(' ').contains("XDG")) {
        // The history holds the run, whatever became of its output.
        shell.clear();
        QCOMPARE(run(process, {QStringLiteral("history")}), 0);
        QVERIFY2(output.contains(QLatin1String(" succeeded ")), qPrintable(output));
    }
}

void TestCommandLine::jsonEventsFollowTheSchema()
{
    QProcess process;
    QCOMPARE(
        run(process, {QStringLiteral("--json"), QStringLiteral("update"), QStringLiteral("--yes"), good}), 0);
    const QString update = output;
    // The trust store of the fixtures (an authority, its signer, a signer its list revokes; a list of
    // each format), and the history as the command lists it, each entry in the form its file holds.
    QCOMPARE(run(process, {QStringLiteral("--json"), QStringLiteral("trust"), QStringLiteral(TRUSTED)}), 0);
    QVERIFY2(output.count("\"certificate\"") == 3 && output.count("\"revocationList\"") == 2,
             qPrintable(output));
    const QString trust = output;
    QCOMPARE(run(process, {QStringLiteral("--json"), QStringLiteral("history")}), 0);
    const QString events = dir.filePath(QStringLiteral("events.jsonl"));
    QFile file(events);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(trust.toUtf8() + output.toUtf8() + update.toUtf8());
    file.close();
    output = update;
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
