#include "imageinfodialog.h"
#include "imageitem.h"
#include "testsupport.h"
#include "updatefilebuilder.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString showEventLine = QStringLiteral("virtual void ImageInfoDialog::showEvent(QShowEvent*)");

QListWidget *listOf(ImageInfoDialog &dialog)
{
    return dialog.findChild<QListWidget *>(QStringLiteral("listWidget"));
}

// The five texts of a row, found by the object names the form gives them.
QStringList rowTexts(const QWidget *row)
{
    return {row->findChild<QLabel *>(QStringLiteral("nameLabel"))->text(),
            row->findChild<QLineEdit *>(QStringLiteral("versionLineEdit"))->text(),
            row->findChild<QLineEdit *>(QStringLiteral("minHWlineEdit"))->text(),
            row->findChild<QLineEdit *>(QStringLiteral("addresLineEdit"))->text(),
            row->findChild<QLineEdit *>(QStringLiteral("sizeLineEdit"))->text()};
}

QList<ImageItem *> rowsOf(ImageInfoDialog &dialog)
{
    QList<ImageItem *> rows;
    QListWidget *list = listOf(dialog);
    for (int i = 0; i < list->count(); ++i)
        rows.append(qobject_cast<ImageItem *>(list->itemWidget(list->item(i))));
    return rows;
}

updatefile::Image image(const QByteArray &name, quint32 version, quint32 minHW, quint32 address,
                        int dataLength)
{
    updatefile::Image result;
    result.name = name;
    result.version = version;
    result.minHW = minHW;
    result.address = address;
    result.data = updatefile::pattern(address, dataLength);
    return result;
}

} // namespace

class TestImageInfoDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void rowForm();
    void dialogForm();
    void rowTextsFromHeader_data();
    void rowTextsFromHeader();
    void listsImagesInFileOrder();
    void showingAgainListsOnce();
    void showWhileVisibleReadsNothing();
    void unreadableFileShowsNoRows_data();
    void unreadableFileShowsNoRows();
    void buttonsEndTheDialog_data();
    void buttonsEndTheDialog();

private:
    QString writeUpdateFile(const QList<updatefile::Image> &images);

    QTemporaryDir dir;
    int fileCount = 0;
};

void TestImageInfoDialog::init()
{
    QVERIFY(dir.isValid());
}

QString TestImageInfoDialog::writeUpdateFile(const QList<updatefile::Image> &images)
{
    const QString path = dir.filePath(QStringLiteral("update%1.zarnru").arg(++fileCount));
    if (!updatefile::writeFile(path, images))
        return QString();
    return path;
}

void TestImageInfoDialog::rowForm()
{
    ImageItem row;
    QCOMPARE(row.size(), QSize(465, 128));
    QCOMPARE(rowTexts(&row),
             QStringList({QStringLiteral("Name"), QString(), QString(), QString(), QString()}));
    QCOMPARE(row.findChild<QLabel *>(QStringLiteral("minWHLabel"))->text(), QStringLiteral("Min HW:"));
    QCOMPARE(row.findChild<QLabel *>(QStringLiteral("flashAddressLabel"))->text(),
             QStringLiteral("Address:"));

    row.setValues(QStringLiteral("A"), QStringLiteral("1.2.34"), QStringLiteral("7"), QStringLiteral("0x0"),
                  QStringLiteral("32"));
    row.setValues(QStringLiteral("BOOT"), QStringLiteral("10.0.1112"), QStringLiteral("9"),
                  QStringLiteral("0x4a000"), QStringLiteral("1048576"));
    QCOMPARE(rowTexts(&row),
             QStringList({QStringLiteral("BOOT"), QStringLiteral("10.0.1112"), QStringLiteral("9"),
                          QStringLiteral("0x4a000"), QStringLiteral("1048576")}));
    const QList<QLineEdit *> edits = row.findChildren<QLineEdit *>();
    QCOMPARE(edits.size(), 4);
    for (const QLineEdit *edit : edits)
        QVERIFY2(!edit->isEnabled(), qPrintable(edit->objectName()));
}

void TestImageInfoDialog::dialogForm()
{
    ImageInfoDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Image info"));
    QCOMPARE(dialog.size(), QSize(583, 411));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("filenameLabel"))->text(),
             QStringLiteral("Filename: "));
    QVERIFY(!dialog.findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->isEnabled());
    const auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QVERIFY(dialog.isHidden());
}

void TestImageInfoDialog::rowTextsFromHeader_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<uint>("version");
    QTest::addColumn<uint>("minHW");
    QTest::addColumn<uint>("address");
    QTest::addColumn<int>("dataLength");
    QTest::addColumn<QStringList>("texts");

    // The data length is the block length less the 32-byte header.
    QTest::newRow("one-digit version, 1 MiB block")
        << QByteArray("BOOT") << 0x01020304U << 7U << 0x4A000U << 1048576 - 32
        << QStringList{"BOOT", "1.2.34", "7", "0x4a000", "1048576"};
    QTest::newRow("two-digit version, address 0") << QByteArray("FPGA") << 0x0A000B0CU << 0U << 0U << 0
                                                  << QStringList{"FPGA", "10.0.1112", "0", "0x0", "32"};
    QTest::newRow("all zero version")
        << QByteArray("K") << 0U << 1U << 0x20000U << 1 << QStringList{"K", "0.0.00", "1", "0x20000", "33"};
    QTest::newRow("largest values") << QByteArray("MAX!") << 0xFFFFFFFFU << 0xFFFFFFFFU << 0xFFFFFFF0U << 4
                                    << QStringList{"MAX!", "255.255.255255", "4294967295", "0xfffffff0",
                                                   "36"};
    QTest::newRow("two characters and NUL padding") << QByteArray("AB") << 0x00000100U << 2U << 0xABCDEFU << 8
                                                    << QStringList{"AB", "0.0.10", "2", "0xabcdef", "40"};
    QTest::newRow("name ends at the first NUL") << QByteArray("A\0CD", 4) << 0x01000000U << 3U << 0x100U << 0
                                                << QStringList{"A", "1.0.00", "3", "0x100", "32"};
    QTest::newRow("empty name") << QByteArray() << 0x02030405U << 4U << 0x200U << 0
                                << QStringList{"", "2.3.45", "4", "0x200", "32"};
    QTest::newRow("UTF-8 name") << QByteArray("\xC3\xA9t") << 0x01010101U << 5U << 0x300U << 0
                                << QStringList{QString::fromUtf8("\xC3\xA9t"), "1.1.11", "5", "0x300", "32"};
}

void TestImageInfoDialog::rowTextsFromHeader()
{
    QFETCH(QByteArray, name);
    QFETCH(uint, version);
    QFETCH(uint, minHW);
    QFETCH(uint, address);
    QFETCH(int, dataLength);
    QFETCH(QStringList, texts);

    updatefile::Image single = image(name, version, minHW, address, dataLength);
    // Header bytes right after the name: a name of four characters must not run into them.
    single.reserved = QByteArray("XYZW0123456789");
    const QString path = writeUpdateFile({single});
    QVERIFY(!path.isEmpty());

    ImageInfoDialog dialog;
    dialog.setFilename(path);
    dialog.show();

    const QList<ImageItem *> rows = rowsOf(dialog);
    QCOMPARE(rows.size(), 1);
    QVERIFY(rows.first());
    QCOMPARE(rowTexts(rows.first()), texts);
}

void TestImageInfoDialog::listsImagesInFileOrder()
{
    const QString path = writeUpdateFile({image("ONE", 0x01000001, 1, 0x40000, 100),
                                          image("TWO", 0x02000002, 2, 0x20000, 2000),
                                          image("THRE", 0x03000003, 3, 0x80000, 300)});
    QVERIFY(!path.isEmpty());

    testsupport::MessageLog log;
    ImageInfoDialog dialog;
    dialog.setFilename(path);
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->text(), path);
    QCOMPARE(listOf(dialog)->count(), 0); // setFilename reads nothing
    dialog.show();

    QListWidget *list = listOf(dialog);
    QCOMPARE(list->count(), 3);
    QStringList names;
    QStringList addresses;
    for (int i = 0; i < list->count(); ++i) {
        QCOMPARE(list->item(i)->sizeHint(), QSize(465, 128));
        const QStringList texts = rowTexts(list->itemWidget(list->item(i)));
        names << texts.at(0);
        addresses << texts.at(3);
    }
    QCOMPARE(names, QStringList({"ONE", "TWO", "THRE"}));
    QCOMPARE(addresses, QStringList({"0x40000", "0x20000", "0x80000"}));

    QCOMPARE(log.count(showEventLine), 1);
    const testsupport::LogLine line = log.lines().at(log.messages().indexOf(showEventLine));
    QCOMPARE(line.type, QtDebugMsg);
    QCOMPARE(line.category, QStringLiteral("default"));
    QVERIFY(line.file.endsWith(QStringLiteral("imageinfodialog.cpp")));
}

void TestImageInfoDialog::showingAgainListsOnce()
{
    const QString path = writeUpdateFile(
        {image("ONE", 1, 1, 0x40000, 10), image("TWO", 2, 2, 0x60000, 20), image("THRE", 3, 3, 0x80000, 30)});
    QVERIFY(!path.isEmpty());

    testsupport::MessageLog log;
    ImageInfoDialog dialog;
    dialog.setFilename(path);
    dialog.show();
    dialog.hide();
    dialog.show();

    QCOMPARE(listOf(dialog)->count(), 3);
    QCOMPARE(log.count(showEventLine), 2);
    // The rows of the first show are gone with their items, not merely hidden.
    QVERIFY(testsupport::waitFor([&] { return dialog.findChildren<ImageItem *>().size() == 3; }));
}

void TestImageInfoDialog::showWhileVisibleReadsNothing()
{
    const QString first = writeUpdateFile({image("ONE", 1, 1, 0x40000, 10)});
    const QString second =
        writeUpdateFile({image("TWO", 2, 2, 0x60000, 20), image("THRE", 3, 3, 0x80000, 30)});

    ImageInfoDialog dialog;
    dialog.setFilename(first);
    dialog.show();
    dialog.setFilename(second);
    dialog.show();

    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->text(), second);
    QCOMPARE(rowsOf(dialog).size(), 1);
    QCOMPARE(rowTexts(rowsOf(dialog).first()).first(), QStringLiteral("ONE"));
}

void TestImageInfoDialog::unreadableFileShowsNoRows_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << dir.filePath(QStringLiteral("absent.zarnru"));
    QTest::newRow("empty path") << QString();
}

void TestImageInfoDialog::unreadableFileShowsNoRows()
{
    QFETCH(QString, path);

    ImageInfoDialog dialog;
    // Rows of an earlier file must not survive into the next show.
    const QString earlier = writeUpdateFile({image("OLD", 1, 1, 0x40000, 10)});
    dialog.setFilename(earlier);
    dialog.show();
    dialog.hide();
    QCOMPARE(listOf(dialog)->count(), 1);

    dialog.setFilename(path);
    dialog.show();
    QCOMPARE(listOf(dialog)->count(), 0);
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->text(), path);
}

void TestImageInfoDialog::buttonsEndTheDialog_data()
{
    QTest::addColumn<int>("button"); // QDialogButtonBox::StandardButton
    QTest::addColumn<int>("result");
    QTest::newRow("OK") << int(QDialogButtonBox::Ok) << int(QDialog::Accepted);
    QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel) << int(QDialog::Rejected);
}

void TestImageInfoDialog::buttonsEndTheDialog()
{
    QFETCH(int, button);
    QFETCH(int, result);

    ImageInfoDialog dialog;
    dialog.setFilename(dir.filePath(QStringLiteral("absent.zarnru")));
    int rowsShown = -1;
    const auto seen = testsupport::answerNextModal([&](QWidget *modal) {
        rowsShown = modal->findChild<QListWidget *>(QStringLiteral("listWidget"))->count();
        modal->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::StandardButton(button))
            ->click();
    });

    QCOMPARE(dialog.exec(), result);
    QVERIFY(seen->seen);
    QCOMPARE(rowsShown, 0);
    QVERIFY(dialog.isHidden());
}

QTEST_MAIN(TestImageInfoDialog)
#include "tst_imageinfodialog.moc"
