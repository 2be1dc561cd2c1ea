// The window's update control and whole runs through it, on the simulated
// device.

#include "tst_windowrun.h"

#include "elapsedclock.h"
#include "localnames.h"
#include "mainwindow.h"
#include "runkit.h"
#include "runoutcomeview.h"
#include "runyield.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <QAccessible>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace runkit;

namespace {

// The window's clock, pinned: the first reading of a computation gives
// clockReadings[0], every later one clockReadings[1].
qint64 clockReadings[2] = {0, 0};
int readCount = 0;

QString text(QWidget &window, const char *label)
{
    return child<QLabel>(window, label)->text();
}

QString accessibleName(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
}

} // namespace

void TestWindowRun::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    path = dir.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(path, threeImages()));
}

void TestWindowRun::closeWaitsForTheRun()
{
    zarnsim::Timing slow; // the close request meets the flash being programmed
    slow.pageEraseUs = 50000;
    zarnsim::setTiming(slow);
    RunWatcher runs;
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, path));
    testsupport::ModalWatcher boxes;
    QVERIFY(!window.close());
    QCOMPARE(boxes.seen.size(), 1);
    QVERIFY2(boxes.seen.first().startsWith("QMessageBox|Update in progress|") &&
                 boxes.seen.first().endsWith("|1") && boxes.seen.first().contains("unable to start"),
             qPrintable(boxes.seen.first()));
    QVERIFY(window.isVisible());
    QVERIFY(waitForRun(window, runs));
    QCOMPARE(text(window, "statusLabel"), doneLine);
    QVERIFY(flashHolds(threeImages()));
    QVERIFY(window.close());
}

enum Outcome { Succeeds, Fails, EraseFails, FlashUnopened, NameNotUtf8 };

void TestWindowRun::outcomeLeavesNoDoubt_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("said");
    QTest::newRow("success") << int(Succeeds) << RunOutcomeView::succeededText;
    QTest::newRow("failure") << int(Fails) << RunOutcomeView::failedText;
    QTest::newRow("erase fails, its cause beside")
        << int(EraseFails) << RunOutcomeView::failedText + " Cause: Input/output error.";
    QTest::newRow("flash cannot be opened") << int(FlashUnopened) << RunOutcomeView::notStartedText;
    QTest::newRow("a name that is not UTF-8") << int(NameNotUtf8) << RunOutcomeView::succeededText;
}

// The status bar says how the run ended, from the run's own outcome: only a
// run that changed the flash may have left the system unable to start. After
// a failure the status line stands out and the window asks before it closes.
// What assistive technology reads of the status line changes with the stage,
// not with the line of every block; the end is a notification besides.
void TestWindowRun::outcomeLeavesNoDoubt()
{
    QFETCH(int, outcome);
    QFETCH(QString, said);
    const bool fails = outcome != Succeeds && outcome != NameNotUtf8;
    if (outcome == Fails)
        zarnsim::addStuckBits(0x80100, 0x01);
    if (outcome == EraseFails)
        zarnsim::failEraseRequest(2);
    if (outcome == FlashUnopened)
        zarnsim::setNodeError(zarnsim::Node::Flash, EIO);
    QString file = path;
    if (outcome == NameNotUtf8) {
        // As the program itself takes names: the bytes kept through the field.
        localnames::keepUndecodableBytes();
        const QByteArray raw = QFile::encodeName(dir.path()) + "/bad\xff\xfename.zarnru";
        ::unlink(raw.constData());
        QCOMPARE(::link(QFile::encodeName(path).constData(), raw.constData()), 0);
        file = QFile::decodeName(raw);
        QVERIFY(QFile::exists(file));
    }
    RunWatcher runs;
    MainWindow window;
    window.show();
    QLabel *const status = child<QLabel>(window, "statusLabel");
    const QColor plain = status->palette().color(QPalette::WindowText);
    QStringList names{accessibleName(status)}; // each time it is found changed, as the lines come
    // The window's thread gives way to the run's while it goes, and only then; the run's does not.
    std::atomic<bool> runGaveWay{false};
    bool windowGaveWay = false;
    runs.onStatusLine = [&](const QString &) {
        runGaveWay = runGaveWay || RunYield::threadYields();
        QMetaObject::invokeMethod(
            status,
            [&] {
                names << accessibleName(status);
                windowGaveWay = windowGaveWay || RunYield::threadYields();
            },
            Qt::QueuedConnection);
    };
    QVERIFY(!RunYield::threadYields());
    QVERIFY(startRun(window, file));
    QVERIFY(waitForRun(window, runs));
    // Where the system lets no thread change its class, the window runs as it always did.
    bool batchAllowed = false;
    std::thread([&batchAllowed] {
        const sched_param batch{};
        batchAllowed = sched_setscheduler(0, SCHED_BATCH, &batch) == 0;
    }).join();
    QCOMPARE(windowGaveWay, batchAllowed);
    QVERIFY(!runGaveWay);
    QVERIFY(!RunYield::threadYields());
    names << accessibleName(status);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    // Before the run, initialisation, three stages of three images, the read-back, the end.
    QVERIFY2(names.size() <= 13 && names.last() == status->text(), qPrintable(names.join('\n')));
    QStringList notices;
    for (QObject *object : window.findChildren<QObject *>())
        if (QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
            iface && iface->role() == QAccessible::Notification)
            notices << iface->text(QAccessible::Name);
    QCOMPARE(notices, QStringList{status->text() + (fails ? '\n' + said : QString())});
    if (outcome == NameNotUtf8)
        QFile::remove(file);
    QCOMPARE(window.statusBar()->currentMessage(), said);
    QCOMPARE(child<QLabel>(window, "statusLabel")->palette().color(QPalette::WindowText) != plain, fails);
    QCOMPARE(flashHolds(threeImages()), !fails);
    const auto answer = [](QMessageBox::StandardButton button) {
        return [button](QWidget *modal) { qobject_cast<QMessageBox *>(modal)->button(button)->click(); };
    };
    if (fails) {
        testsupport::ModalWatcher no(answer(QMessageBox::No));
        QVERIFY(!window.close());
        QCOMPARE(no.seen.size(), 1);
        QVERIFY(no.seen.first().startsWith("QMessageBox|The update failed|"));
    }
    testsupport::ModalWatcher yes(answer(QMessageBox::Yes));
    QVERIFY(window.close());
    QCOMPARE(yes.seen.size(), fails ? 1 : 0);
}

void TestWindowRun::hardwareAsked_data()
{
    QTest::addColumn<int>("installed"); // -1: the mailbox cannot be asked; 6: a newer image 2 was verified
    QTest::addColumn<bool>("goOn");
    QTest::addColumn<QString>("said"); // the box's title and text; empty: no box
    const QString tooOld = QStringLiteral(
        "Hardware requirement|Image 2 (NEW) needs hardware 5 or newer; this system's hardware is 4.");
    const QString older = QStringLiteral("Older image|Image 2 (NEW) is version 1.2.34, older than version "
                                         "1.2.35 written and verified at 0x80000 on 2099-03-04 05:06:07.");
    QTest::newRow("suits") << 5 << false << QString();
    QTest::newRow("needs newer, No") << 4 << false << tooOld;
    QTest::newRow("needs newer, Yes") << 4 << true << tooOld;
    QTest::newRow("installed value unknown, No")
        << -1 << false
        << QStringLiteral("Hardware requirement|The installed hardware value cannot be read (Input/output "
                          "error), so the images' hardware requirements cannot be checked.");
    QTest::newRow("older image, No") << 6 << false << older;
    QTest::newRow("older image, Yes") << 6 << true << older;
}

// An image that declares newer hardware than the system has, or is older than
// the one last written in its place, is flashed only on the operator's word,
// asked before the confirmation, No the default.
void TestWindowRun::hardwareAsked()
{
    QFETCH(int, installed);
    QFETCH(bool, goOn);
    QFETCH(QString, said);
    QList<updatefile::Image> images = threeImages();
    images[1].name = "NEW";
    images[1].minHW = 5;
    const QString file = dir.filePath(QStringLiteral("hardware.zarnru"));
    QVERIFY(updatefile::writeFile(file, images));
    // Dated in local time, as it is shown.
    const QString history = qEnvironmentVariable("ZARN_JOURNAL_DIR") + QStringLiteral("/history");
    QVERIFY(installed != 6 ||
            writeJournal(history, {{"2099-03-04T05:06:07", "succeeded", "NEW", 0x80000, 0x01020305}}));
    zarnsim::setMailboxAnswers(0x04030201, quint32(qMax(installed, 0)), 0x00020301);
    RunWatcher runs;
    MainWindow window;
    window.show();
    if (installed < 0)
        zarnsim::failMailboxRequest(4, EIO); // the window has asked three times
    child<QLineEdit>(window, "filenameLineEdit")->setText(file);
    testsupport::ModalWatcher modals([goOn, title = said.section('|', 0, 0)](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (box && box->windowTitle() == title)
            box->button(goOn ? QMessageBox::Yes : QMessageBox::No)->click();
        else
            testsupport::acceptModal(modal);
    });
    QTest::mouseClick(updateButton(window), Qt::LeftButton);
    const QString asked = QStringLiteral("QMessageBox|") + said + QStringLiteral("\n\nUpdate all the same?");
    QCOMPARE(modals.seen.value(0).startsWith(asked), !said.isEmpty());
    if (said.isEmpty() || goOn)
        QVERIFY(waitForRun(window, runs));
    QFile::remove(history + QStringLiteral("/written-1.json"));
    QCOMPARE(flashHolds(images), said.isEmpty() || goOn);
}

void TestWindowRun::confirmedBytesAreFlashed_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("duringWrite"); // else between the confirmation and the start
    for (const char *change : {"truncated", "rewritten in place", "renamed over", "deleted", "appended to"}) {
        QTest::addRow("%s before the start", change) << change << false;
        QTest::addRow("%s while the second image is written", change) << change << true;
    }
}

// Whatever becomes of the file on disk once the operator has confirmed it,
// the run writes and verifies the bytes that were confirmed.
void TestWindowRun::confirmedBytesAreFlashed()
{
    QFETCH(QString, change);
    QFETCH(bool, duringWrite);
    const QString confirmed = dir.filePath(QStringLiteral("confirmed.zarnru"));
    const QString other = dir.filePath(QStringLiteral("other.zarnru"));
    QFile::remove(confirmed);
    QVERIFY(QFile::copy(path, confirmed));
    QList<updatefile::Image> images = threeImages();
    for (updatefile::Image &image : images)
        image.data = updatefile::pattern(image.address + 7, image.data.size());
    QVERIFY(updatefile::writeFile(other, images));
    const auto changeFile = [&] {
        QFile file(confirmed);
        QFile source(other);
        if (change == "truncated")
            file.resize(file.size() / 2);
        if (change == "rewritten in place" && file.open(QIODevice::ReadWrite) &&
            source.open(QIODevice::ReadOnly))
            file.write(source.readAll()); // as cp does it: the same inode, other bytes
        if (change == "renamed over" && QFile::copy(other, confirmed + ".new"))
            ::rename(QFile::encodeName(confirmed + ".new").constData(),
                     QFile::encodeName(confirmed).constData());
        if (change == "deleted")
            file.remove();
        if (change == "appended to" && file.open(QIODevice::Append))
            file.write(updatefile::pattern(3, 5000));
    };
    RunWatcher runs;
    int writesStarted = 0;
    runs.onStatusLine = [&](const QString &line) {
        if (duringWrite && line == QLatin1String("Started writing to Flash memory...") &&
            ++writesStarted == 2)
            changeFile();
    };
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, confirmed, duringWrite ? [] {} : std::function<void()>(changeFile)));
    QVERIFY(waitForRun(window, runs));
    QCOMPARE(text(window, "statusLabel"), doneLine);
    QVERIFY(flashHolds(threeImages()));
}

void TestWindowRun::extensionCheck_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("extension"); // empty: accepted, the confirmation comes; ".": none at all
    const auto row = [](const char *name, const char *filename, const char *extension) {
        QTest::newRow(name) << QString::fromUtf8(filename) << QString::fromUtf8(extension);
    };
    row("plain", "/data/new.zarnru", "");
    row("two dots", "/data/a.b.zarnru", "");
    row("trailing dot", "/data/new.zarnru.", "");
    row("double dot", "/data/new..zarnru", "");
    row("no dot at all", "zarnru", "");
    row("upper case", "/data/new.ZARNRU", "ZARNRU");
    row("blank after the extension", "/data/new.zarnru ", "zarnru ");
    row("other extension", "/data/new.bin", "bin");
    row("a device", "/dev/zero", "/dev/zero");
    row("empty", "", ".");
    row("only dots", "...", ".");
    row("dot in a directory name", "/data.d/new", "d/new");
}

// A name without the update file's extension is turned away with a box; no
// row of this table starts a run, the confirmation being cancelled.
void TestWindowRun::extensionCheck()
{
    QFETCH(QString, filename);
    QFETCH(QString, extension);
    RunWatcher runs;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    child<QLineEdit>(window, "filenameLineEdit")->setText(filename);
    testsupport::ModalWatcher modals(testsupport::rejectModal);
    QTest::mouseClick(updateButton(window), Qt::LeftButton);
    // A box of its own, without a default button, over the window.
    // A name that passes goes on to the check of the file, which none of these is.
    const QString box = QString::asprintf("|%d|0x%x|1|0|1", QMessageBox::Warning, unsigned(QMessageBox::Ok));
    QCOMPARE(modals.seen, QStringList{extension.isEmpty()
                                          ? "QMessageBox|Update file refused|Error opening " + filename + box
                                          : "QMessageBox|Invalid filename|The filename is not valid.\n\n"
                                            "Expecting file extenison: .zarnru, instead got: ." +
                                                (extension == "." ? QString() : extension) + box});
    QVERIFY(updateButton(window)->isEnabled() && runs.run().events.isEmpty());
    QCOMPARE(child<QLineEdit>(window, "filenameLineEdit")->text(), filename);
}

void TestWindowRun::timeLabels_data()
{
    QTest::addColumn<QList<int>>("progress"); // the values arriving, the last read at the pinned clock
    QTest::addColumn<QList<qint64>>("readings");
    QTest::addColumn<QString>("labels"); // elapsed, remaining, the bar
    const auto row = [](const char *name, QList<int> progress, QList<qint64> readings, const char *labels) {
        QTest::newRow(name) << progress << readings << QString::fromUtf8(labels);
    };
    row("a quarter after 125 s", {25}, {125000, 125000}, "00:02:05 00:06:15 25");
    row("divisions truncate", {30}, {1999, 1999}, "00:00:01 00:00:05 30");
    row("nothing done yet", {0}, {5000, 5000}, "00:00:05  -  0");
    row("whole days drop out", {100}, {90000000, 90000000}, "01:00:00 00:00:00 100");
    row("a second between the readings", {100}, {1999, 2000}, "00:00:01 00:00:01 100");
    row("above 100 keeps the bar", {25, 150}, {125000, 125000}, "00:02:05 00:06:15 25");
    row("below 0 keeps the bar", {25, -5}, {125000, 125000}, "00:02:05 00:06:15 25");
}

void TestWindowRun::timeLabels()
{
    QFETCH(QList<int>, progress);
    QFETCH(QList<qint64>, readings);
    QFETCH(QString, labels);
    MainWindow window;
    elapsedclock::setSource([](const QElapsedTimer &) { return clockReadings[readCount++ == 0 ? 0 : 1]; });
    for (int value : progress) {
        clockReadings[0] = value == progress.last() ? readings[0] : 0;
        clockReadings[1] = value == progress.last() ? readings[1] : 0;
        readCount = 0;
        window.updateTotalProgress(value);
    }
    QTRY_COMPARE(text(window, "timeElapsed") + ' ' + text(window, "timeRemain") + ' ' +
                     QString::number(child<QProgressBar>(window, "totalProgressBar")->value()),
                 labels);
}
