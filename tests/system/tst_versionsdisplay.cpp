// The installed versions in the window, and the window without a driver.

#include "commandline.h"
#include "mainwindow.h"
#include "runspy.h"

#include <cerrno>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

using testsupport::ModalWatcher;

namespace {

const QString boxTitle = QStringLiteral("Cannot open file");
const QString boxText =
    QStringLiteral("System file /dev/zarn_mailbox could not be opened.\n\n"
                   "Please check if ZARN driver is loaded.\nApplication will now quit.\n");

// Lets the event loop run until everything queued so far has been handled,
// a zero-delay timer of the window's constructor included.
bool settle()
{
    bool reached = false;
    QTimer::singleShot(0, [&reached] { reached = true; });
    return testsupport::waitFor([&reached] { return reached; });
}

QStringList versionFields(QWidget &window)
{
    return {child<QLineEdit>(window, "curVerTSLineEdit")->text(),
            child<QLineEdit>(window, "curVerSWLineEdit")->text(),
            child<QLineEdit>(window, "curPIDverLineEdit")->text()};
}

} // namespace

class VersionsDisplayTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        zarnsim::reset();
        openWithoutDriver = false;
    }
    void cleanupTestCase() { openWithoutDriver = false; }

    void driverPresent();
    void driverMissing_data();
    void driverMissing();
    void forceModeUpdateWithoutFlash();
};

void VersionsDisplayTest::driverPresent()
{
    zarnsim::setMailboxAnswers(0x04030201, 0xFFFFFFFF, 0x0A0B0C0D);
    ModalWatcher watcher;
    MainWindow window;
    window.show();
    QVERIFY(settle());
    QCOMPARE(versionFields(window), QStringList({"4294967295", "1.2.34", "13.12.1110"}));
    QCOMPARE(watcher.seen.size(), 0);
    QVERIFY(window.isVisible());
}

void VersionsDisplayTest::driverMissing_data()
{
    QTest::addColumn<bool>("force");
    QTest::addColumn<unsigned>("failingRequest"); // 0: the node is missing

    QTest::newRow("no node") << false << 0u;
    QTest::newRow("no node, force mode") << true << 0u;
    // The box names the device whichever step of the query failed.
    QTest::newRow("second request fails") << false << 2u;
}

void VersionsDisplayTest::driverMissing()
{
    QFETCH(bool, force);
    QFETCH(unsigned, failingRequest);
    if (failingRequest)
        zarnsim::failMailboxRequest(failingRequest, EIO);
    else
        zarnsim::setNodeError(zarnsim::Node::Mailbox, ENOENT);
    openWithoutDriver = force;

    ModalWatcher watcher;
    MainWindow window;
    QCOMPARE(watcher.seen.size(), 1);
    const testsupport::ModalSeen box = watcher.seen.first();
    QCOMPARE(box.className, QStringLiteral("QMessageBox"));
    QCOMPARE(box.icon, int(QMessageBox::Critical));
    QCOMPARE(box.title, boxTitle);
    QCOMPARE(box.text, boxText);
    QCOMPARE(box.buttons, int(QMessageBox::Ok));
    QVERIFY(!box.hasDefaultButton);
    QVERIFY(!box.hadParent);
    QCOMPARE(versionFields(window), QStringList({"", "", ""}));

    // Not closed before the event loop runs, and at once when it does.
    window.show();
    QVERIFY(settle());
    QCOMPARE(window.isVisible(), force);
    QCOMPARE(watcher.seen.size(), 1);
}

void VersionsDisplayTest::forceModeUpdateWithoutFlash()
{
    zarnsim::setNodeError(zarnsim::Node::Mailbox, ENOENT);
    zarnsim::setNodeError(zarnsim::Node::Flash, ENOENT);
    openWithoutDriver = true;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(path, threeImages()));

    ModalWatcher watcher;
    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(settle());
    QVERIFY(window.isVisible());
    child<QLineEdit>(window, "filenameLineEdit")->setText(path);
    QTest::mouseClick(child<QPushButton>(window, "startUpdateButton"), Qt::LeftButton);
    QVERIFY(runs.waitForRuns(window, 1));

    // The driver box, then the confirmation of the images.
    QCOMPARE(watcher.seen.size(), 2);
    QCOMPARE(watcher.seen.at(1).className, QStringLiteral("ImageInfoDialog"));
    const QString flashMissing = QStringLiteral("Error opening /dev/zarn_flash");
    QCOMPARE(runs.statusLines(), QStringList({QStringLiteral("Updater initialization..."), flashMissing}));
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(), flashMissing);
}

QTEST_MAIN(VersionsDisplayTest)
#include "tst_versionsdisplay.moc"
