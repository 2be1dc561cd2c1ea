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
const QSize rowSize(465, 128);

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

// Each row's texts, and its size hint when that is not the row's size.
QStringList rowsOf(ImageInfoDialog &dialog)
{
    QStringList rows;
    QListWidget *list = listOf(dialog);
    for (int i = 0; i < list->count(); ++i) {
        const auto *row = qobject_cast<ImageItem *>(list->itemWidget(list->item(i)));
        rows << (row ? rowTexts(row).join(QLatin1Char('|')) : QStringLiteral("not an ImageItem"));
        if (list->item(i)->sizeHint() != rowSize)
            rows << QStringLiteral("size hint %1x%2")
                        .arg(list->item(i)->sizeHint().width())
                        .arg(list->item(i)->sizeHint().height());
    }
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
    void rowTextsFromHeader_data();
    void rowTextsFromHeader();
    void showingAgainListsAfresh();
    void missingFileShowsNoRowsAndOkAccepts();

private:
    QString writeUpdateFile(const QList<updatefile::Image> &images);

    QTemporaryDir dir;
    int fileCount = 0;
};

QString TestImageInfoDialog::writeUpdateFile(const QList<updatefile::Image> &images)
{
    const QString path = dir.filePath(QStringLiteral("update%1.zarnru").arg(++fileCount));
    return updatefile::writeFile(path, images) ? path : QString();
}

void TestImageInfoDialog::rowTextsFromHeader_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<uint>("version");
    QTest::addColumn<uint>("minHW");
    QTest::addColumn<uint>("address");
    QTest::addColumn<int>("dataLength");
    QTest::addColumn<QString>("texts");

    // The size shown is the block's: the data length and the 32-byte header.
    QTest::newRow("one-digit version, 1 MiB block") << QByteArray("BOOT") << 0x01020304U << 7U << 0x4A000U
                                                    << 1048576 - 32 << "BOOT|1.2.34|7|0x4a000|1048576";
    QTest::newRow("two-digit version, address 0")
        << QByteArray("FPGA") << 0x0A000B0CU << 0U << 0U << 0 << "FPGA|10.0.1112|0|0x0|32";
    QTest::newRow("all zero version")
        << QByteArray("K") << 0U << 1U << 0x20000U << 1 << "K|0.0.00|1|0x20000|33";
    QTest::newRow("largest values") << QByteArray("MAX!") << 0xFFFFFFFFU << 0xFFFFFFFFU << 0xFFFFFFF0U << 4
                                    << "MAX!|255.255.255255|4294967295|0xfffffff0|36";
    QTest::newRow("name ends at the first NUL")
        << QByteArray("A\0CD", 4) << 0x01000000U << 3U << 0x100U << 0 << "A|1.0.00|3|0x100|32";
}

void TestImageInfoDialog::rowTextsFromHeader()
{
    QFETCH(QByteArray, name);
    QFETCH(uint, version);
    QFETCH(uint, minHW);
    QFETCH(uint, address);
    QFETCH(int, dataLength);
    QFETCH(QString, texts);

    updatefile::Image single = image(name, version, minHW, address, dataLength);
    // Header bytes right after the name: a name of four characters must not run into them.
    single.reserved = QByteArray("XYZW0123456789");
    ImageInfoDialog dialog;
    dialog.setFilename(writeUpdateFile({single}));
    dialog.show();
    QCOMPARE(rowsOf(dialog), QStringList{texts});
}

// Every show reads the file again and lists it once, in file order.
void TestImageInfoDialog::showingAgainListsAfresh()
{
    const QString path = writeUpdateFile({image("ONE", 0x01000001, 1, 0x40000, 100),
                                          image("TWO", 0x02000002, 2, 0x20000, 2000),
                                          image("THRE", 0x03000003, 3, 0x80000, 300)});
    testsupport::MessageLog log;
    ImageInfoDialog dialog;
    dialog.setFilename(path);
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->text(), path);
    QCOMPARE(listOf(dialog)->count(), 0); // setFilename reads nothing
    dialog.show();
    dialog.hide();
    dialog.show();

    QCOMPARE(rowsOf(dialog), QStringList({"ONE|1.0.01|1|0x40000|132", "TWO|2.0.02|2|0x20000|2032",
                                          "THRE|3.0.03|3|0x80000|332"}));
    QCOMPARE(log.count(showEventLine), 2);
    for (const QLineEdit *edit : dialog.findChildren<QLineEdit *>())
        QVERIFY2(!edit->isEnabled(), qPrintable(edit->objectName()));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("filenameLabel"))->text(),
             QStringLiteral("Filename: "));
    QVERIFY(log.lines()
                .at(log.messages().indexOf(showEventLine))
                .file.endsWith(QStringLiteral("imageinfodialog.cpp")));
    // The rows of the first show are gone with their items, not merely hidden.
    QVERIFY(testsupport::waitFor([&] { return dialog.findChildren<ImageItem *>().size() == 3; }));
}

void TestImageInfoDialog::missingFileShowsNoRowsAndOkAccepts()
{
    ImageInfoDialog dialog;
    // Rows of an earlier file must not survive into the next show.
    dialog.setFilename(writeUpdateFile({image("OLD", 1, 1, 0x40000, 10)}));
    dialog.show();
    dialog.hide();
    dialog.setFilename(dir.filePath(QStringLiteral("absent.zarnru")));

    int rowsShown = -1;
    const auto seen = testsupport::answerNextModal([&](QWidget *) {
        rowsShown = listOf(dialog)->count();
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(seen->seen);
    QCOMPARE(rowsShown, 0);
    QVERIFY(dialog.isHidden());
}

QTEST_MAIN(TestImageInfoDialog)
#include "tst_imageinfodialog.moc"
