// The window's update control and whole runs through it, on the simulated
// device, and the image information dialog's rows.

#include "elapsedclock.h"
#include "imageinfodialog.h"
#include "imageitem.h"
#include "localnames.h"
#include "mainwindow.h"
#include "runkit.h"
#include "runoutcomeview.h"

#include <cerrno>
#include <cstdio>
#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/stat.h>
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

// Each row's five texts, by the names the row form gives them, and the item's
// size hint where it is not the row form's size.
QStringList rowsOf(ImageInfoDialog &dialog)
{
    QStringList rows;
    auto *list = dialog.findChild<QListWidget *>(QStringLiteral("listWidget"));
    for (int i = 0; i < list->count(); ++i) {
        QWidget *row = qobject_cast<ImageItem *>(list->itemWidget(list->item(i)));
        if (!row)
            return rows << QStringLiteral("not the row form");
        QStringList texts{child<QLabel>(*row, "nameLabel")->text()};
        for (const char *name : {"versionLineEdit", "minHWlineEdit", "addresLineEdit", "sizeLineEdit"})
            texts << child<QLineEdit>(*row, name)->text();
        const QSize hint = list->item(i)->sizeHint();
        rows << texts.join('|') + (hint == QSize(465, 128)
                                       ? QString()
                                       : QString::asprintf(" %dx%d", hint.width(), hint.height()));
    }
    return rows;
}

// Every interface under root, depth first, as assistive technology walks them.
QList<QAccessibleInterface *> descendants(QAccessibleInterface *root)
{
    QList<QAccessibleInterface *> all;
    for (int i = 0; root && i < root->childCount(); ++i)
        if (QAccessibleInterface *child = root->child(i))
            all << child << descendants(child);
    return all;
}

} // namespace

class TestWindowRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { zarnsim::reset(); }
    void cleanup() { elapsedclock::setSource(nullptr); }
    void closeWaitsForTheRun();
    void outcomeLeavesNoDoubt_data();
    void outcomeLeavesNoDoubt();
    void confirmedBytesAreFlashed_data();
    void confirmedBytesAreFlashed();
    void extensionCheck_data();
    void extensionCheck();
    void informationViewGivesWayToConfirmation();
    void timeLabels_data();
    void timeLabels();
    void dialogRows_data();
    void dialogRows();
    void accessibleTree_data();
    void accessibleTree();

private:
    QTemporaryDir dir;
    QString path;
};

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
    const QColor plain = child<QLabel>(window, "statusLabel")->palette().color(QPalette::WindowText);
    QVERIFY(startRun(window, file));
    QVERIFY(waitForRun(window, runs));
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

// "Get Image Info" still open when Update is released gives way to the modal
// confirmation, which lists the file as it is now.
void TestWindowRun::informationViewGivesWayToConfirmation()
{
    const QString single = dir.filePath(QStringLiteral("new.zarnru"));
    QVERIFY(updatefile::writeFile(single, {threeImages().first()}));
    RunWatcher runs;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClicks(child<QLineEdit>(window, "filenameLineEdit"), single);
    QTest::mouseClick(child<QPushButton>(window, "imageInfoButton"), Qt::LeftButton);
    auto *dialog = window.findChild<ImageInfoDialog *>();
    QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
    QCOMPARE(dialog->findChild<QListWidget *>()->count(), 1);
    QVERIFY(updatefile::writeFile(single, threeImages())); // changed while the view is open
    QStringList confirmed;
    testsupport::ModalWatcher modals([&](QWidget *modal) {
        confirmed << QString::number(modal == dialog && modal->isModal())
                  << QString::number(modal->findChild<QListWidget *>()->count())
                  << modal->findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->text();
        testsupport::rejectModal(modal);
    });
    // A confirmation that never turns modal would leave exec() waiting: ended, the test fails instead.
    QTimer::singleShot(15000, dialog, [dialog] { dialog->reject(); });
    QTest::mouseClick(updateButton(window), Qt::LeftButton);
    QCOMPARE(confirmed, QStringList({"1", "3", single}));
    QVERIFY(dialog->isHidden() && updateButton(window)->isEnabled() && runs.run().events.isEmpty());
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
    QCOMPARE(text(window, "timeElapsed") + ' ' + text(window, "timeRemain") + ' ' +
                 QString::number(child<QProgressBar>(window, "totalProgressBar")->value()),
             labels);
}

void TestWindowRun::dialogRows_data()
{
    QTest::addColumn<QByteArray>("name");       // "missing" or "FIFO": no file of images there
    QTest::addColumn<QList<quint32>>("fields"); // version, minimum hardware, address, data length
    QTest::addColumn<QString>("texts");

    // The size shown is the block's: the data and the 32-byte header.
    QTest::newRow("one-digit version, 1 MiB block")
        << QByteArray("BOOT") << QList<quint32>{0x01020304, 7, 0x4A000, 1048576 - 32}
        << "BOOT|1.2.34|7|0x4a000|1048576";
    QTest::newRow("two-digit version, address 0")
        << QByteArray("FPGA") << QList<quint32>{0x0A000B0C, 0, 0, 0} << "FPGA|10.0.1112|0|0x0|32";
    QTest::newRow("all zero version")
        << QByteArray("K") << QList<quint32>{0, 1, 0x20000, 1} << "K|0.0.00|1|0x20000|33";
    QTest::newRow("largest values") << QByteArray("MAX!")
                                    << QList<quint32>{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFF0, 4}
                                    << "MAX!|255.255.255255|4294967295|0xfffffff0|36";
    QTest::newRow("name ends at the first NUL")
        << QByteArray("A\0CD", 4) << QList<quint32>{0x01000000, 3, 0x100, 0} << "A|1.0.00|3|0x100|32";
    QTest::newRow("three, in file order, not by address")
        << QByteArray() << QList<quint32>()
        << "CONF|1.2.34|0|0xc0000|5032 BOOT|1.2.34|0|0x40000|3032 APP|1.2.34|0|0x80000|4032";
    QTest::newRow("missing file") << QByteArray("missing") << QList<quint32>() << "";
    QTest::newRow("FIFO without a writer") << QByteArray("FIFO") << QList<quint32>() << "";
}

// Every show lists the file afresh: the rows of the file shown before are gone.
void TestWindowRun::dialogRows()
{
    QFETCH(QByteArray, name);
    QFETCH(QList<quint32>, fields);
    QFETCH(QString, texts);
    QList<updatefile::Image> images{threeImages()[2], threeImages()[0], threeImages()[1]};
    if (!fields.isEmpty()) {
        images = {image("", fields[2], updatefile::pattern(1, int(fields[3])))};
        images[0].name = name;
        images[0].version = fields[0];
        images[0].minHW = fields[1];
        // Header bytes right after the name: a name of four characters must not run into them.
        images[0].reserved = QByteArray("XYZW0123456789");
    }
    const QString listed = dir.filePath(QString::fromLatin1(name.toHex()) + QStringLiteral(".zarnru"));
    QFile::remove(listed);
    QVERIFY(name == "missing" || (name == "FIFO" ? ::mkfifo(QFile::encodeName(listed).constData(), 0600) == 0
                                                 : updatefile::writeFile(listed, images)));
    ImageInfoDialog dialog;
    dialog.setFilename(path);
    dialog.show();
    dialog.hide();
    dialog.setFilename(listed);
    std::future<bool> rescued = freeFifoLater(listed);
    dialog.show();
    QVERIFY2(!rescued.get(), "the dialog sat in open() until a writer came");
    QCOMPARE(rowsOf(dialog).join(' '), texts);
}

void TestWindowRun::accessibleTree_data()
{
    QTest::addColumn<QString>(
        "object"); // an object name, "row n" of the dialog's list, "dialog" before either
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");

    const int field = QAccessible::EditableText;
    const int bar = QAccessible::ProgressBar;
    QTest::newRow("timestamp") << "curVerTSLineEdit" << field << "Current HW timestamp:"
                               << "";
    QTest::newRow("SW version") << "curVerSWLineEdit" << field << "Current SW version:"
                                << "";
    QTest::newRow("PID version") << "curPIDverLineEdit" << field << "Current PID version:"
                                 << "";
    QTest::newRow("file name") << "filenameLineEdit" << field << "ZARN Update Image file:"
                               << "Enter image file name or search for it (button '...')";
    QTest::newRow("browse") << "fileDialogButton" << int(QAccessible::Button) << "Browse"
                            << "Choose the ZARN update image file";
    QTest::newRow("current bar") << "currentProgressBar" << bar << "Current progress:"
                                 << "";
    QTest::newRow("total bar") << "totalProgressBar" << bar << "Total progress:"
                               << "";
    QTest::newRow("status line after a run")
        << "statusLabel" << int(QAccessible::StaticText) << doneLine << "Update status";
    QTest::newRow("dialog's file name") << "dialog filenameLineEdit" << field << "Filename: "
                                        << "";
    QTest::newRow("dialog's list") << "dialog listWidget" << int(QAccessible::List) << "Images"
                                   << "";
    const QList<updatefile::Image> images = threeImages();
    for (int row = 0; row < images.size(); ++row)
        QTest::addRow("row %d", row) << QStringLiteral("dialog row %1").arg(row) << int(QAccessible::ListItem)
                                     << QStringLiteral(
                                            "%1, Version: 1.2.34, Min HW: 0, Address: 0x%2, Size: %3")
                                            .arg(QString::fromLatin1(images[row].name))
                                            .arg(images[row].address, 0, 16)
                                            .arg(images[row].data.size() + 32)
                                     << "";
}

// What a screen reader finds in the window and in the dialog listing three
// images: every field, bar and row by name. The status line's name is its
// text, so the label announces each new line (the offscreen platform has no
// accessibility bridge to watch that happen).
void TestWindowRun::accessibleTree()
{
    QFETCH(QString, object);
    QFETCH(int, role);
    QFETCH(QString, name);
    QFETCH(QString, description);
    RunWatcher runs;
    MainWindow window;
    window.show();
    QWidget *root = &window;
    if (object.startsWith(QLatin1String("dialog "))) {
        auto *dialog = window.findChild<ImageInfoDialog *>();
        dialog->setFilename(path);
        dialog->show();
        root = dialog;
        object.remove(0, 7);
    }
    const bool afterRun = object == QLatin1String("statusLabel");
    if (afterRun) {
        QVERIFY(startRun(window, path));
        QVERIFY(waitForRun(window, runs));
    }

    QStringList found;
    for (QAccessibleInterface *iface : descendants(QAccessible::queryAccessibleInterface(root))) {
        QAccessibleTableCellInterface *cell = iface->tableCellInterface();
        if (cell ? object == QStringLiteral("row %1").arg(cell->rowIndex())
                 : iface->object() && iface->object()->objectName() == object)
            found << QStringLiteral("%1|%2|%3")
                         .arg(iface->role())
                         .arg(iface->text(QAccessible::Name), iface->text(QAccessible::Description));
    }
    QCOMPARE(found, QStringList{QStringLiteral("%1|%2|%3").arg(role).arg(name, description)});
    if (afterRun)
        QVERIFY(flashHolds(threeImages()));
}

QTEST_MAIN(TestWindowRun)
#include "tst_windowrun.moc"
