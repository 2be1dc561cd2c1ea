// The update-file builder that the tests and the demo take their files from: its layout byte by byte.

#include "updatefilebuilder.h"

#include <QTest>

namespace {

using updatefile::Image;

Image image(const QByteArray &name, quint32 version, quint32 address, quint32 minHW, const QByteArray &data,
            const QByteArray &reserved = QByteArray())
{
    Image result;
    result.name = name;
    result.version = version;
    result.address = address;
    result.minHW = minHW;
    result.data = data;
    result.reserved = reserved;
    return result;
}

} // namespace

Q_DECLARE_METATYPE(QList<updatefile::Image>)

class tst_UpdateFileBuilder : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void patternVaries();
};

void tst_UpdateFileBuilder::layout_data()
{
    QTest::addColumn<QList<Image>>("images");
    QTest::addColumn<QByteArray>("expected"); // version, address, minHW, name, bytes 16-27, nextOffset, data

    QTest::newRow("fields little-endian")
        << QList<Image>{image("BOOT", 0x01020304, 0x00080400, 0xA0B0C0D0, "xyz")}
        << QByteArray("04030201 00040800 d0c0b0a0 424f4f54 000000000000000000000000 00000000 78797a");
    QTest::newRow("short name padded, reserved bytes cut at twelve")
        << QList<Image>{image("AB", 0, 0xFFFFFFFF, 0, "", QByteArray(14, '\x77'))}
        << QByteArray("00000000 ffffffff 00000000 41420000 777777777777777777777777 00000000");
    QTest::newRow("chain of two")
        << QList<Image>{image("ONE", 1, 0x20000, 1, "a"), image("TWO", 2, 0x40000, 2, "bb")}
        << QByteArray("01000000 00000200 01000000 4f4e4500 000000000000000000000000 21000000 61"
                      "02000000 00000400 02000000 54574f00 000000000000000000000000 00000000 6262");
}

void tst_UpdateFileBuilder::layout()
{
    QFETCH(QList<Image>, images);
    QFETCH(QByteArray, expected);
    QCOMPARE(updatefile::build(images).toHex(), expected.replace(' ', ""));
}

// The engine tests find a block written to the wrong place only if blocks differ.
void tst_UpdateFileBuilder::patternVaries()
{
    const QByteArray a = updatefile::pattern(7, 2048);
    QVERIFY(a.left(1024) != a.mid(1024));
    QVERIFY(updatefile::pattern(8, 2048) != a);
}

QTEST_GUILESS_MAIN(tst_UpdateFileBuilder)
#include "tst_updatefilebuilder.moc"
