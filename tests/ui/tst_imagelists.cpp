// The image lists of the window, as an operator sees them and as assistive
// technology reads them: the rows of "Get Image Info" and of the confirmation;
// the readouts of a run, drawn once a frame however fast its reports come; and
// the arrows of the window's bars, made only when drawn.

#include "deferrediconstyle.h"
#include "imageinfodialog.h"
#include "imageitem.h"
#include "mainwindow.h"
#include "runkit.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>

using namespace runkit;

namespace {

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

// Counts the paints of one widget.
class Paints final : public QObject
{
public:
    explicit Paints(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class TestImageLists : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { zarnsim::reset(); }
    void dialogRows_data();
    void dialogRows();
    void accessibleTree_data();
    void accessibleTree();
    void focusChain();
    void readoutsOncePerFrame_data();
    void readoutsOncePerFrame();
    void informationViewGivesWayToConfirmation();
    void barArrows_data();
    void barArrows();

private:
    QTemporaryDir dir;
    QString path;
};

void TestImageLists::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    path = dir.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(path, threeImages()));
}

void TestImageLists::dialogRows_data()
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
void TestImageLists::dialogRows()
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

void TestImageLists::accessibleTree_data()
{
    QTest::addColumn<QString>(
        "object"); // an object name, "row n" of the dialog's list, "dialog" before either
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("states"); // of disabled, focusable, read-only

    const int field = QAccessible::EditableText;
    const int bar = QAccessible::ProgressBar;
    const int label = QAccessible::StaticText;
    // Read-only and reached with Tab: disabled, a screen reader would call them greyed out.
    QTest::newRow("timestamp") << "curVerTSLineEdit" << field << "Current HW timestamp:"
                               << ""
                               << "focusable read-only";
    QTest::newRow("SW version") << "curVerSWLineEdit" << field << "Current SW version:"
                                << ""
                                << "focusable read-only";
    QTest::newRow("PID version") << "curPIDverLineEdit" << field << "Current PID version:"
                                 << ""
                                 << "focusable read-only";
    QTest::newRow("file name") << "filenameLineEdit" << field << "ZARN Update Image file:"
                               << "Enter image file name or search for it with Browse"
                               << "focusable";
    QTest::newRow("browse") << "fileDialogButton" << int(QAccessible::Button) << "Browse"
                            << "Choose the ZARN update image file"
                            << "focusable";
    QTest::newRow("logo") << "label" << int(QAccessible::Graphic) << "Velmora ZARN"
                          << ""
                          << "read-only";
    QTest::newRow("current bar") << "currentProgressBar" << bar << "Current progress:"
                                 << ""
                                 << "read-only";
    QTest::newRow("total bar") << "totalProgressBar" << bar << "Total progress:"
                               << ""
                               << "read-only";
    QTest::newRow("status line after a run") << "statusLabel" << label << doneLine << "Update status"
                                             << "read-only";
    QTest::newRow("time elapsed") << "timeElapsed" << label << "Time elapsed:"
                                  << ""
                                  << "read-only";
    QTest::newRow("time remaining after a run") << "timeRemain" << label << "Time remaining: 00:00:00"
                                                << ""
                                                << "read-only";
    QTest::newRow("dialog's file name") << "dialog filenameLineEdit" << field << "Filename: "
                                        << ""
                                        << "focusable read-only";
    QTest::newRow("dialog's list") << "dialog listWidget" << int(QAccessible::List) << "Images"
                                   << ""
                                   << "";
    const QList<updatefile::Image> images = threeImages();
    for (int row = 0; row < images.size(); ++row)
        QTest::addRow("row %d", row) << QStringLiteral("dialog row %1").arg(row) << int(QAccessible::ListItem)
                                     << QStringLiteral(
                                            "%1, Version: 1.2.34, Min HW: 0, Address: 0x%2, Size: %3")
                                            .arg(QString::fromLatin1(images[row].name))
                                            .arg(images[row].address, 0, 16)
                                            .arg(images[row].data.size() + 32)
                                     << ""
                                     << "focusable";
}

// What a screen reader finds in the window and in the dialog listing three
// images: every field, bar and row by name. The status line's name is its
// text, so the label announces each new line (the offscreen platform has no
// accessibility bridge to watch that happen).
void TestImageLists::accessibleTree()
{
    QFETCH(QString, object);
    QFETCH(int, role);
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QString, states);
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
    const bool afterRun = QString::fromLatin1(QTest::currentDataTag()).endsWith(QLatin1String("after a run"));
    if (afterRun) {
        QVERIFY(startRun(window, path));
        QVERIFY(waitForRun(window, runs));
    }

    QStringList found;
    for (QAccessibleInterface *iface : descendants(QAccessible::queryAccessibleInterface(root))) {
        QAccessibleTableCellInterface *cell = iface->tableCellInterface();
        if (cell ? object == QStringLiteral("row %1").arg(cell->rowIndex())
                 : iface->object() && iface->object()->objectName() == object)
            found << QStringLiteral("%1|%2|%3|%4")
                         .arg(iface->role())
                         .arg(iface->text(QAccessible::Name), iface->text(QAccessible::Description))
                         .arg(QStringList{iface->state().disabled ? "disabled" : "",
                                          iface->state().focusable ? "focusable" : "",
                                          iface->state().readOnly ? "read-only" : ""}
                                  .join(' ')
                                  .simplified());
    }
    QCOMPARE(found, QStringList{QStringLiteral("%1|%2|%3|%4").arg(role).arg(name, description, states)});
    if (afterRun)
        QVERIFY(flashHolds(threeImages()));
}

// The window opens in the file name, and Tab reaches every field, the
// read-only versions included, before it comes round again.
void TestImageLists::focusChain()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QStringList chain{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        chain << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(chain.join(' '),
             QStringLiteral("filenameLineEdit fileDialogButton imageInfoButton startUpdateButton "
                            "curVerTSLineEdit curVerSWLineEdit curPIDverLineEdit filenameLineEdit"));
}

void TestImageLists::readoutsOncePerFrame_data()
{
    QTest::addColumn<QByteArray>("readout");
    QTest::newRow("current bar") << QByteArray("currentProgressBar");
    QTest::newRow("total bar") << QByteArray("totalProgressBar");
    QTest::newRow("status line") << QByteArray("statusLabel");
}

// Reports come as fast as the event loop takes them: each is only kept, the
// readout drawn at most once in a 60th of a second, and the last one shown
// once the loop has run.
void TestImageLists::readoutsOncePerFrame()
{
    QFETCH(QByteArray, readout);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget *const shown = child<QWidget>(window, readout.constData());
    const Paints paints(shown);
    QElapsedTimer clock;
    clock.start();
    const int reports = 300;
    for (int i = 1; i <= reports; ++i) {
        if (readout == "statusLabel")
            window.updateStatusText(QString::number(i));
        else if (readout == "currentProgressBar")
            window.updateCurrentProgress(i % 101);
        else
            window.updateTotalProgress(i % 101);
        QCoreApplication::processEvents();
    }
    QVERIFY2(paints.count <= clock.elapsed() * 60 / 1000 + 2,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints.count).arg(clock.elapsed())));
    const auto *bar = qobject_cast<QProgressBar *>(shown);
    QTRY_COMPARE(bar ? QString::number(bar->value()) : qobject_cast<QLabel *>(shown)->text(),
                 QString::number(bar ? reports % 101 : reports));
}

// "Get Image Info" still open when Update is released gives way to the modal
// confirmation, which lists the file as it is now.
void TestImageLists::informationViewGivesWayToConfirmation()
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

void TestImageLists::barArrows_data()
{
    QTest::addColumn<int>("arrow"); // QStyle::StandardPixmap
    QTest::addColumn<Qt::LayoutDirection>("direction");
    QTest::newRow("horizontal") << int(QStyle::SP_ToolBarHorizontalExtensionButton) << Qt::LeftToRight;
    QTest::newRow("horizontal, right to left")
        << int(QStyle::SP_ToolBarHorizontalExtensionButton) << Qt::RightToLeft;
    QTest::newRow("vertical") << int(QStyle::SP_ToolBarVerticalExtensionButton) << Qt::LeftToRight;
}

// The program's style makes the arrows of the bars' extension buttons only
// when drawn; drawn, at the icon's sizes and between them, they are the plain
// style's to the pixel.
void TestImageLists::barArrows()
{
    QFETCH(int, arrow);
    QFETCH(Qt::LayoutDirection, direction);
    const auto which = QStyle::StandardPixmap(arrow);
    QStyleOption option;
    option.direction = direction;
    const std::unique_ptr<QStyle> plain(QStyleFactory::create(QApplication::style()->objectName()));
    const QIcon expected = plain->standardIcon(which, &option);
    const DeferredIconStyle style;
    const QIcon deferred = style.standardIcon(which, &option);
    QCOMPARE(deferred.availableSizes(), expected.availableSizes());
    for (const QSize size : {QSize(8, 16), QSize(12, 12), QSize(16, 16), QSize(40, 40)}) {
        QCOMPARE(deferred.pixmap(size).toImage(), expected.pixmap(size).toImage());
        QImage drawn[2] = {QImage(size, QImage::Format_ARGB32_Premultiplied), drawn[0].copy()};
        for (int i = 0; i < 2; ++i) {
            drawn[i].fill(Qt::transparent);
            QPainter painter(&drawn[i]);
            (i ? deferred : expected).paint(&painter, drawn[i].rect());
        }
        QCOMPARE(drawn[1], drawn[0]);
    }
}

QTEST_MAIN(TestImageLists)
#include "tst_imagelists.moc"
