#include "forcemode.h"
#include "mainwindow.h"
#include "runspy.h"
#include "testsupport.h"
#include "updatefilebuilder.h"
#include "zarnsim.h"

#include <cerrno>
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using zarnsim::Node;

namespace {

const QString boxTitle = QStringLiteral("Cannot open file");
const QString flashMissingLine = QStringLiteral("Error opening /dev/zarn_flash");
const QString doneLine = QStringLiteral("Done updating. It is now safe to restart the computer.");
const int runTimeoutMs = 60000;

const QString boxText =
    QStringLiteral("System file /dev/zarn_mailbox could not be opened.\n\n"
                   "Please check if ZARN driver is loaded.\nApplication will now quit.\n");

struct BoxSeen
{
    QString className;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    int buttonCount = 0;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool hadParent = false;
};

// Answers every modal widget for as long as it lives and keeps what it saw,
// so that a second box is counted instead of blocking the test.
class ModalWatcher final : public QObject
{
public:
    ModalWatcher()
    {
        connect(&timer, &QTimer::timeout, this, &ModalWatcher::poll);
        timer.start(10);
    }

    QList<BoxSeen> seen;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        BoxSeen box;
        box.className = QString::fromLatin1(modal->metaObject()->className());
        box.title = modal->windowTitle();
        box.hadParent = modal->parentWidget() != nullptr;
        if (auto *messageBox = qobject_cast<QMessageBox *>(modal)) {
            box.icon = messageBox->icon();
            box.text = messageBox->text();
            box.buttons = messageBox->standardButtons();
            box.buttonCount = int(messageBox->buttons().size());
            box.defaultButton = messageBox->standardButton(messageBox->defaultButton());
        }
        seen.append(box);
        testsupport::acceptModal(modal);
    }

    QTimer timer;
};

// Lets the event loop run until everything queued so far has been handled,
// a zero-delay timer of the window's constructor included.
bool settle()
{
    bool reached = false;
    QTimer::singleShot(0, [&reached] { reached = true; });
    return testsupport::waitFor([&reached] { return reached; });
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

    void driverPresent_data();
    void driverPresent();
    void driverMissing_data();
    void driverMissing();
    void forceModeUpdateWithoutFlash();
};

void VersionsDisplayTest::driverPresent_data()
{
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<QString>("sw");
    QTest::addColumn<QString>("pid");

    QTest::newRow("answers") << 0u << "4294967295"
                             << "1.2.34"
                             << "13.12.1110";
    QTest::newRow("flagged first answer") << 0xFu << "1406615411"
                                          << "0.0.90"
                                          << "0.0.90";
}

void VersionsDisplayTest::driverPresent()
{
    QFETCH(quint32, flags);
    QFETCH(QString, timestamp);
    QFETCH(QString, sw);
    QFETCH(QString, pid);
    zarnsim::setMailboxAnswers(0x04030201, 0xFFFFFFFF, 0x0A0B0C0D);
    zarnsim::setMailboxFlags(flags);

    ModalWatcher watcher;
    MainWindow window;
    window.show();
    QVERIFY(settle());

    QCOMPARE(window.findChild<QLineEdit *>("curVerTSLineEdit")->text(), timestamp);
    QCOMPARE(window.findChild<QLineEdit *>("curVerSWLineEdit")->text(), sw);
    QCOMPARE(window.findChild<QLineEdit *>("curPIDverLineEdit")->text(), pid);
    QCOMPARE(watcher.seen.size(), 0);
    QVERIFY(window.isVisible());
}

void VersionsDisplayTest::driverMissing_data()
{
    QTest::addColumn<bool>("force");
    QTest::addColumn<int>("openError");
    QTest::addColumn<unsigned>("failingRequest");

    QTest::newRow("no node") << false << ENOENT << 0u;
    QTest::newRow("no node, force mode") << true << ENOENT << 0u;
    QTest::newRow("no permission") << false << EACCES << 0u;
    // The box names the device whichever step of the query failed.
    QTest::newRow("second request fails") << false << 0 << 2u;
    QTest::newRow("third request fails, force mode") << true << 0 << 3u;
}

void VersionsDisplayTest::driverMissing()
{
    QFETCH(bool, force);
    QFETCH(int, openError);
    QFETCH(unsigned, failingRequest);
    if (openError)
        zarnsim::setNodeError(Node::Mailbox, openError);
    if (failingRequest)
        zarnsim::failMailboxRequest(failingRequest, EIO);
    openWithoutDriver = force;

    ModalWatcher watcher;
    MainWindow window;

    QCOMPARE(watcher.seen.size(), 1);
    const BoxSeen box = watcher.seen.first();
    QCOMPARE(box.className, QStringLiteral("QMessageBox"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, boxTitle);
    QCOMPARE(box.text, boxText);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.buttonCount, 1);
    QCOMPARE(box.defaultButton, QMessageBox::NoButton);
    QVERIFY(!box.hadParent);

    // The fields keep the empty texts the failed query left.
    QCOMPARE(window.findChild<QLineEdit *>("curVerTSLineEdit")->text(), QString());
    QCOMPARE(window.findChild<QLineEdit *>("curVerSWLineEdit")->text(), QString());
    QCOMPARE(window.findChild<QLineEdit *>("curPIDverLineEdit")->text(), QString());

    // Not closed before the event loop runs, and at once when it does.
    window.show();
    QVERIFY(window.isVisible());
    QVERIFY(settle());
    QCOMPARE(window.isVisible(), force);
    QCOMPARE(watcher.seen.size(), 1);
}

void VersionsDisplayTest::forceModeUpdateWithoutFlash()
{
    zarnsim::setNodeError(Node::Mailbox, ENOENT);
    zarnsim::setNodeError(Node::Flash, ENOENT);
    openWithoutDriver = true;

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("update.zarnru"));
    updatefile::Image image;
    image.name = "BOOT";
    image.address = 0x40000;
    image.data = updatefile::pattern(1, 4096);
    QVERIFY(updatefile::writeFile(path, {image}));

    ModalWatcher watcher;
    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(settle());
    QVERIFY(window.isVisible());

    auto *update = window.findChild<QPushButton *>("startUpdateButton");
    window.findChild<QLineEdit *>("filenameLineEdit")->setText(path);
    QTest::mouseClick(update, Qt::LeftButton);
    QVERIFY(testsupport::waitFor(
        [&] { return update->isEnabled() && runs.workersDestroyed == 1 && runs.threadsDestroyed == 1; },
        runTimeoutMs));

    // The driver box, then the confirmation of the images.
    QCOMPARE(watcher.seen.size(), 2);
    QCOMPARE(watcher.seen.at(0).title, boxTitle);
    QCOMPARE(watcher.seen.at(1).className, QStringLiteral("ImageInfoDialog"));

    QCOMPARE(runs.statusLines(),
             QStringList({QStringLiteral("Updater initialization..."), flashMissingLine}));
    QCOMPARE(window.findChild<QLabel *>("statusLabel")->text(), flashMissingLine);
    QVERIFY(!runs.statusLines().contains(doneLine));
    for (const zarnsim::Call &call : zarnsim::record())
        QVERIFY2(call.node != Node::Flash || (call.op == zarnsim::Op::Open && call.result < 0),
                 "the flash was reached");
}

QTEST_MAIN(VersionsDisplayTest)
#include "tst_versionsdisplay.moc"
