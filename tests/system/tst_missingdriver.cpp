// The real program without its mailbox: one box, then a quiet end.

#include "runkit.h"

#include <QMessageBox>

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
    runkit::Program program;
    QVERIFY(program.start({setting}));
    QVERIFY2(program.end(), qPrintable(program.output));
    QCOMPARE(program.process.exitCode(), 0); // the event loop's own value, not a crash or a forced end
    QCOMPARE(program.output.split('\n').filter(QStringLiteral("programdriver: ")),
             QStringList{
                 QString::asprintf("programdriver: box QMessageBox|Cannot open file|System file "
                                   "/dev/zarn_mailbox could not be opened.\\n\\nPlease check if ZARN driver "
                                   "is loaded.\\nApplication will now quit.\\n|%d|0x%x|1|0|0",
                                   QMessageBox::Critical, unsigned(QMessageBox::Ok))});
    QVERIFY(!program.output.contains(QLatin1String("openWithoutDriver: ON")));
}

QTEST_GUILESS_MAIN(MissingDriverTest)
#include "tst_missingdriver.moc"
