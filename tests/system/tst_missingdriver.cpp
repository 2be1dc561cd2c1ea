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
    QTest::addColumn<QString>("setting");
    QTest::newRow("no mailbox node") << "ZARNSIM_MISSING=mailbox";
    QTest::newRow("mailbox refuses the second request") << "ZARNSIM_MAILBOX_FAIL=2:EIO";
}

void MissingDriverTest::programEnds()
{
    QFETCH(QString, setting);

    QProcessEnvironment processEnvironment = QProcessEnvironment::systemEnvironment();
    processEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    processEnvironment.insert(QStringLiteral("LD_PRELOAD"),
                              QStringLiteral(ZARNSIM_LIBRARY ":" BOX_ANSWERER_LIBRARY));
    processEnvironment.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));

    QProcess program;
    program.setProcessEnvironment(processEnvironment);
    program.start(QStringLiteral(ZARN_PROGRAM), QStringList());
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
