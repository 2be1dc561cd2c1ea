// The simulator as the demo, the benchmarks and the subprocess tests use it:
// preloaded into a process that does not link it, configured from the environment.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString defaultMailbox = QStringLiteral("mailbox 4030201 53202210 20301 flags 0 201");
const QString defaultFlash = QStringLiteral("flash was ffffffff unlock 0 erase 0 now 12345678");

const int holderWaitMs = 10000;

void start(QProcess &process, const QStringList &environment, const QStringList &arguments)
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARNSIM_LIBRARY));
    for (const QString &setting : environment) {
        if (!setting.isEmpty())
            variables.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    }
    process.setProcessEnvironment(variables);
    process.start(QStringLiteral(SIMPROBE), arguments);
}

// Runs the probe to its end; its standard output, or "probe failed".
QString probe(const QStringList &environment, QString *errors = nullptr, const QStringList &arguments = {})
{
    QProcess process;
    start(process, environment, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished() || process.exitCode() != 0)
        return QStringLiteral("probe failed");
    if (errors)
        *errors = QString::fromLocal8Bit(process.readAllStandardError());
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

} // namespace

class tst_SimPreload : public QObject
{
    Q_OBJECT

private slots:
    void configuredFromEnvironment_data();
    void configuredFromEnvironment();
    void oneFlashForAllProcesses_data();
    void oneFlashForAllProcesses();
};

void tst_SimPreload::configuredFromEnvironment_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("mailbox"); // empty: the default line
    QTest::addColumn<QString>("flash");
    QTest::addColumn<bool>("rejected"); // reported on stderr and ignored

    const auto row = [](const char *name, const char *setting, const char *mailbox, const char *flash,
                        bool rejected = false) {
        QTest::newRow(name) << QString::fromLatin1(setting) << QString::fromLatin1(mailbox)
                            << QString::fromLatin1(flash) << rejected;
    };
    row("nothing set", "ZARNSIM_UNUSED=1", "", "");
    row("both nodes missing", "ZARNSIM_MISSING=both", "mailbox e2", "flash e2");
    row("mailbox forbidden", "ZARNSIM_MAILBOX_ERROR=EACCES", "mailbox e13", "");
    row("flash errno number", "ZARNSIM_FLASH_ERROR=19", "", "flash e19");
    row("unlock refused", "ZARNSIM_UNLOCK_REFUSED=1", "",
        "flash was ffffffff unlock -1 erase -1 write e1 now ffffffff");
    row("erase fails at", "ZARNSIM_ERASE_FAIL_AT=0x40000,0x20000", "",
        "flash was ffffffff unlock 0 erase -1 now 12345678");
    row("first erase fails", "ZARNSIM_ERASE_FAIL_REQUEST=1", "",
        "flash was ffffffff unlock 0 erase -1 now 12345678");
    row("stuck bits", "ZARNSIM_STUCK_BITS=0x20000:0x0F", "",
        "flash was fffffff0 unlock 0 erase 0 now 12345670");
    row("weak word", "ZARNSIM_WEAK_WORDS=0x20000:2", "", "flash was ffffffff unlock 0 erase 0 now ffffffff");
    row("losing word", "ZARNSIM_LOSING_WORDS=0x20000:0x200", "",
        "flash was ffffffff unlock 0 erase 0 now 12345478");
    row("answers", "ZARNSIM_MAILBOX_ANSWERS=0x10,20,0xFFFFFFFF", "mailbox 10 14 ffffffff flags 0 201", "");
    row("flags", "ZARNSIM_MAILBOX_FLAGS=0xF", "mailbox 4030201 53202210 20301 flags f 201", "");
    row("later flags", "ZARNSIM_MAILBOX_LATER_FLAGS=0xF", "mailbox 4030201 53202210 20301 flags 0 f", "");
    row("mailbox fails", "ZARNSIM_MAILBOX_FAIL=2:EACCES", "mailbox 4030201 e13 20301 flags 0 201", "");
    row("failing calls", "ZARNSIM_FAIL_CALL=read:2:EIO,write:1:EINTR,erase:1:16", "",
        "flash was ffffffff unlock 0 erase -1 write e4 now 0");
    row("short writes", "ZARNSIM_SHORT=write:2", "", "flash was ffffffff unlock 0 erase 0 now ffff5678");
    row("bad profile", "ZARNSIM_TIMING=slow", "", "", true);
    row("bad failing call", "ZARNSIM_FAIL_CALL=open:1:EIO", "", "", true);
    row("bad pair", "ZARNSIM_WEAK_WORDS=0x20000", "", "", true);
    row("bad errno", "ZARNSIM_FLASH_ERROR=ENOPE", "", "", true);
}

void tst_SimPreload::configuredFromEnvironment()
{
    QFETCH(QString, setting);
    QFETCH(QString, mailbox);
    QFETCH(QString, flash);
    QFETCH(bool, rejected);
    QString errors;
    QCOMPARE(probe({setting}, &errors), (mailbox.isEmpty() ? defaultMailbox : mailbox) + QLatin1Char('\n') +
                                            (flash.isEmpty() ? defaultFlash : flash));
    const QString report = QStringLiteral("zarnsim: ") + setting + QStringLiteral(" ignored");
    QCOMPARE(errors.left(report.size()), rejected ? report : QString());
}

void tst_SimPreload::oneFlashForAllProcesses_data()
{
    QTest::addColumn<QString>("setting"); // of the process that takes the flash first
    QTest::addColumn<QString>("holder");  // what it has printed when the second one has run
    QTest::addColumn<QString>("other");
    QTest::addColumn<QString>("after"); // a third one, once the holder has been killed

    const QString locked = QStringLiteral("flash lock 0 chr 660 listed 1 was ");
    QTest::newRow("killed holding it")
        << QString() << locked + "ffffffff unlock 0 erase 0 now 12345678"
        << "flash lock e11 was 12345678" << locked + "12345678 unlock 0 erase 0 now 12345678";
    QTest::newRow("hung in its write")
        << QStringLiteral("ZARNSIM_HANG=write:1") << locked + "ffffffff unlock 0 erase 0"
        << "flash lock e11 was ffffffff" << locked + "ffffffff unlock 0 erase 0 now 12345678";
}

void tst_SimPreload::oneFlashForAllProcesses()
{
    QFETCH(QString, setting);
    QFETCH(QString, holder);
    QFETCH(QString, other);
    QFETCH(QString, after);
    QTemporaryDir dir;
    const QString flash = QStringLiteral("ZARNSIM_FLASH_FILE=") + dir.filePath(QStringLiteral("flash"));
    const QStringList lock{QStringLiteral("lock")};

    QProcess first;
    start(first, {flash, setting}, lock);
    QString printed;
    while (printed != holder && first.waitForReadyRead(holderWaitMs))
        printed += QString::fromLocal8Bit(first.readAllStandardOutput());
    QCOMPARE(probe({flash}, nullptr, lock), other);
    first.waitForReadyRead(0);
    QCOMPARE(printed + QString::fromLocal8Bit(first.readAllStandardOutput()), holder);
    first.kill();
    QVERIFY(first.waitForFinished());
    QCOMPARE(probe({flash}, nullptr, lock), after);
}

QTEST_GUILESS_MAIN(tst_SimPreload)
#include "tst_simpreload.moc"
