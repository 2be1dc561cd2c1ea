// The simulator as the demo, the benchmarks and the subprocess tests use it:
// preloaded into a process that does not link it, configured from the environment.

#include <QProcess>
#include <QTest>

namespace {

const QString defaultMailbox = QStringLiteral("mailbox 4030201 53202210 20301 flags 0 201");
const QString defaultFlash = QStringLiteral("flash was ffffffff unlock 0 erase 0 now 12345678");

// Runs the probe; its standard output, or "probe failed".
QString probe(const QStringList &environment, QString *errors = nullptr)
{
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARNSIM_LIBRARY));
    for (const QString &setting : environment)
        variables.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(variables);
    process.start(QStringLiteral(SIMPROBE), QStringList());
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
    row("bad profile", "ZARNSIM_TIMING=slow", "", "", true);
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

QTEST_GUILESS_MAIN(tst_SimPreload)
#include "tst_simpreload.moc"
