#include "commandline.h"
#include "testsupport.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTest>
#include <vector>

using testsupport::MessageLog;

namespace {
const QString forceLine = QStringLiteral("openWithoutDriver: ON");
}

class ForceFlagTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { openWithoutDriver = false; } // the program never resets it; the tests must
    void cleanupTestCase() { openWithoutDriver = false; }

    void decision_data();
    void decision();
};

void ForceFlagTest::decision_data()
{
    QTest::addColumn<QStringList>("arguments"); // after the program name
    QTest::addColumn<bool>("force");

    QTest::newRow("no argument") << QStringList() << false;
    QTest::newRow("-f alone") << QStringList{"-f"} << true;
    QTest::newRow("-f, more follow") << QStringList{"-f", "update.zarnru", "--force"} << true;
    QTest::newRow("--force alone") << QStringList{"--force"} << true;
    QTest::newRow("--force, more follow") << QStringList{"--force", "x"} << true;
    QTest::newRow("-f second") << QStringList{"update.zarnru", "-f"} << false;
    QTest::newRow("--force third") << QStringList{"a", "b", "--force"} << false;
    QTest::newRow("-F") << QStringList{"-F"} << false;
    QTest::newRow("-force") << QStringList{"-force"} << false;
    QTest::newRow("--force=1") << QStringList{"--force=1"} << false;
    QTest::newRow("--force with trailing blank") << QStringList{"--force "} << false;
    QTest::newRow("-platform first") << QStringList{"-platform", "offscreen", "-f"} << false;
}

void ForceFlagTest::decision()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, force);

    // A vector laid out as the process receives it: the program name, the
    // arguments, and the terminating null pointer.
    QList<QByteArray> storage{QByteArrayLiteral("zarn-update-utility")};
    for (const QString &argument : arguments)
        storage.append(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int argc = int(argv.size()) - 1;

    MessageLog log;
    const bool result = applyForceFlag(argc, argv.data());

    QCOMPARE(result, force);
    QCOMPARE(openWithoutDriver, force);
    QCOMPARE(log.messages(), force ? QStringList{forceLine} : QStringList());
    if (force)
        QVERIFY(log.lines().first().file.endsWith(QLatin1String("commandline.cpp")));
    // The arguments are left as they were for the application object.
    for (int i = 0; i < storage.size(); ++i)
        QCOMPARE(QByteArray(argv[size_t(i)]), storage.at(i));
}

QTEST_GUILESS_MAIN(ForceFlagTest)
#include "tst_forceflag.moc"
