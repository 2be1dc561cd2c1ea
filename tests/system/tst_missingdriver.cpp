#include "testsupport.h"

#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTest>

namespace {

const int exitWaitMs = 60000;
const QString boxReport = QStringLiteral("boxanswerer: ");

QStringList boxesReported(const QString &errorOutput)
{
    QStringList boxes;
    for (const QString &line : errorOutput.split(QLatin1Char('\n')))
        if (line.startsWith(boxReport))
            boxes << line.mid(boxReport.size());
    return boxes;
}

} // namespace

// The real program, the simulated device preloaded, without its mailbox.
class MissingDriverTest : public QObject
{
    Q_OBJECT

private slots:
    void programEnds_data();
    void programEnds();
};

void MissingDriverTest::programEnds_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no mailbox node") << QStringList{"ZARNSIM_MISSING=mailbox"} << QStringList();
    QTest::newRow("no driver at all") << QStringList{"ZARNSIM_MISSING=both"} << QStringList();
    QTest::newRow("mailbox refuses the second request")
        << QStringList{"ZARNSIM_MAILBOX_FAIL=2:EIO"} << QStringList();
    QTest::newRow("force flag not first") << QStringList{"ZARNSIM_MISSING=mailbox"} << QStringList{"x", "-f"};
}

void MissingDriverTest::programEnds()
{
    QFETCH(QStringList, environment);
    QFETCH(QStringList, arguments);

    QProcessEnvironment processEnvironment = QProcessEnvironment::systemEnvironment();
    processEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    processEnvironment.insert(QStringLiteral("LD_PRELOAD"),
                              QStringLiteral(ZARNSIM_LIBRARY ":" BOX_ANSWERER_LIBRARY));
    for (const QString &setting : environment)
        processEnvironment.insert(setting.section(QLatin1Char('='), 0, 0),
                                  setting.section(QLatin1Char('='), 1));

    QProcess program;
    program.setProcessEnvironment(processEnvironment);
    program.start(QStringLiteral(ZARN_PROGRAM), arguments);
    QVERIFY(program.waitForStarted());
    const bool ended = program.waitForFinished(exitWaitMs);
    if (!ended) {
        program.kill();
        program.waitForFinished();
    }
    const QString errorOutput = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(ended, qPrintable(errorOutput));

    // The event loop's own value, not a crash or a forced end.
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    const QString expectedBox =
        QStringLiteral("%1|Cannot open file|System file /dev/zarn_mailbox could not be "
                       "opened.\\n\\nPlease check if ZARN driver is loaded.\\nApplication "
                       "will now quit.\\n|0x%2|1|0|0")
            .arg(int(QMessageBox::Critical))
            .arg(unsigned(QMessageBox::Ok), 0, 16);
    QCOMPARE(boxesReported(errorOutput), QStringList{expectedBox});
    QVERIFY(!errorOutput.contains(QLatin1String("openWithoutDriver: ON")));
}

QTEST_GUILESS_MAIN(MissingDriverTest)
#include "tst_missingdriver.moc"
