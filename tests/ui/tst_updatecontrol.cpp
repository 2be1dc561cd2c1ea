// The window's update control up to the start of a run: the extension check,
// the time labels, and the confirmation.

#include "elapsedclock.h"
#include "imageinfodialog.h"
#include "mainwindow.h"
#include "runspy.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

namespace {

// The window's clock, pinned: the first reading of a computation gives
// firstReading, every later one secondReading.
struct PinnedClock
{
    static inline qint64 firstReading = 0;
    static inline qint64 secondReading = 0;
    static inline int readings = 0;

    static void set(qint64 first, qint64 second)
    {
        firstReading = first;
        secondReading = second;
        readings = 0;
    }

    static qint64 read(const QElapsedTimer &) { return readings++ == 0 ? firstReading : secondReading; }
};

} // namespace

class TestUpdateControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() { zarnsim::reset(); }
    void cleanup() { elapsedclock::setSource(nullptr); }

    void extensionCheck_data();
    void extensionCheck();
    void timeLabels_data();
    void timeLabels();
    void informationViewGivesWayToConfirmation();
};

void TestUpdateControl::extensionCheck_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("extension");

    QTest::newRow("plain") << "/data/new.zarnru" << true << "zarnru";
    QTest::newRow("two dots") << "/data/a.b.zarnru" << true << "zarnru";
    QTest::newRow("trailing dot") << "/data/new.zarnru." << true << "zarnru";
    QTest::newRow("double dot") << "/data/new..zarnru" << true << "zarnru";
    QTest::newRow("no dot at all") << "zarnru" << true << "zarnru";
    QTest::newRow("upper case") << "/data/new.ZARNRU" << false << "ZARNRU";
    QTest::newRow("other extension") << "/data/new.bin" << false << "bin";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("only dots") << "..." << false << "";
    QTest::newRow("dot in a directory name") << "/data.d/new" << false << "d/new";
}

void TestUpdateControl::extensionCheck()
{
    QFETCH(QString, filename);
    QFETCH(bool, accepted);
    QFETCH(QString, extension);

    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    child<QLineEdit>(window, "filenameLineEdit")->setText(filename);

    // The confirmation is cancelled, so no row of this table starts a run.
    const auto seen = testsupport::answerNextModal(testsupport::rejectModal);
    QTest::mouseClick(child<QPushButton>(window, "startUpdateButton"), Qt::LeftButton);
    QVERIFY(seen->seen);

    if (accepted) {
        QCOMPARE(seen->className, QStringLiteral("ImageInfoDialog"));
    } else {
        QCOMPARE(seen->className, QStringLiteral("QMessageBox"));
        QCOMPARE(seen->title, QStringLiteral("Invalid filename"));
        QCOMPARE(seen->text,
                 QStringLiteral(
                     "The filename is not valid.\n\nExpecting file extenison: .zarnru, instead got: .") +
                     extension);
        QCOMPARE(seen->buttonCount, 1);
        QVERIFY(!seen->hasDefaultButton);
        QVERIFY(seen->hadParent);
    }
    QVERIFY(child<QPushButton>(window, "startUpdateButton")->isEnabled());
    QCOMPARE(runs.workersCreated.load(), 0);
    QCOMPARE(child<QLineEdit>(window, "filenameLineEdit")->text(), filename);
}

void TestUpdateControl::timeLabels_data()
{
    QTest::addColumn<int>("held"); // what the bar holds before the value arrives
    QTest::addColumn<int>("progress");
    QTest::addColumn<qint64>("firstMs");
    QTest::addColumn<qint64>("secondMs");
    QTest::addColumn<QString>("elapsed");
    QTest::addColumn<QString>("remaining");
    QTest::addColumn<int>("bar");

    QTest::newRow("a quarter after 125 s") << 0 << 25 << 125000LL << 125000LL << "00:02:05"
                                           << "00:06:15" << 25;
    QTest::newRow("divisions truncate") << 0 << 30 << 1999LL << 1999LL << "00:00:01"
                                        << "00:00:05" << 30;
    QTest::newRow("nothing done yet") << 0 << 0 << 5000LL << 5000LL << "00:00:05"
                                      << " - " << 0;
    QTest::newRow("whole days drop out") << 0 << 100 << 90000000LL << 90000000LL << "01:00:00"
                                         << "00:00:00" << 100;
    QTest::newRow("a second between the readings at 100") << 0 << 100 << 1999LL << 2000LL << "00:00:01"
                                                          << "00:00:01" << 100;
    QTest::newRow("above 100 keeps the bar") << 25 << 150 << 125000LL << 125000LL << "00:02:05"
                                             << "00:06:15" << 25;
    QTest::newRow("below 0 keeps the bar") << 25 << -5 << 125000LL << 125000LL << "00:02:05"
                                           << "00:06:15" << 25;
}

void TestUpdateControl::timeLabels()
{
    QFETCH(int, held);
    QFETCH(int, progress);
    QFETCH(qint64, firstMs);
    QFETCH(qint64, secondMs);
    QFETCH(QString, elapsed);
    QFETCH(QString, remaining);
    QFETCH(int, bar);

    MainWindow window;
    elapsedclock::setSource(&PinnedClock::read);

    if (held != 0) {
        PinnedClock::set(0, 0);
        window.updateTotalProgress(held);
    }
    PinnedClock::set(firstMs, secondMs);
    window.updateTotalProgress(progress);

    QCOMPARE(child<QProgressBar>(window, "totalProgressBar")->value(), bar);
    QCOMPARE(child<QLabel>(window, "timeElapsed")->text(), elapsed);
    QCOMPARE(child<QLabel>(window, "timeRemain")->text(), remaining);
}

// "Get Image Info" still open when Update is released gives way to the modal
// confirmation, which lists the file as it is now.
void TestUpdateControl::informationViewGivesWayToConfirmation()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.zarnru"));
    QVERIFY(updatefile::writeFile(path, {threeImages().first()}));
    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClicks(child<QLineEdit>(window, "filenameLineEdit"), path);
    QTest::mouseClick(child<QPushButton>(window, "imageInfoButton"), Qt::LeftButton);
    auto *dialog = window.findChild<ImageInfoDialog *>();
    QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
    QCOMPARE(dialog->findChild<QListWidget *>()->count(), 1);
    // The file changes while the view is still open.
    QVERIFY(updatefile::writeFile(path, threeImages()));

    QStringList confirmed;
    const auto seen = testsupport::answerNextModal([&](QWidget *modal) {
        confirmed << QString::number(modal == dialog && modal->isModal())
                  << QString::number(modal->findChild<QListWidget *>()->count())
                  << modal->findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->text();
        testsupport::rejectModal(modal);
    });
    // A confirmation that never turns modal would leave exec() waiting forever:
    // end it, so that the test fails instead of hanging.
    QTimer::singleShot(15000, dialog, [dialog] { dialog->reject(); });
    QTest::mouseClick(child<QPushButton>(window, "startUpdateButton"), Qt::LeftButton);

    QVERIFY(seen->seen);
    QCOMPARE(confirmed, QStringList({"1", "3", path}));
    QVERIFY(dialog->isHidden());
    QVERIFY(child<QPushButton>(window, "startUpdateButton")->isEnabled());
    QCOMPARE(runs.workersCreated.load(), 0);
}

QTEST_MAIN(TestUpdateControl)
#include "tst_updatecontrol.moc"
