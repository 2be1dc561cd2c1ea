// The update-file builder: its layout byte by byte, and the command-line tool.

#include "updatefilebuilder.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
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

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(QList<updatefile::Image>)

class tst_UpdateFileBuilder : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void patternIsDeterministicAndVaried();
    void commandLine_data();
    void commandLine();
    void commandLineRefuses_data();
    void commandLineRefuses();
    void sampleFile();
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

void tst_UpdateFileBuilder::patternIsDeterministicAndVaried()
{
    const QByteArray a = updatefile::pattern(7, 4099);
    QCOMPARE(a.size(), 4099);
    QCOMPARE(updatefile::pattern(7, 100), a.left(100));
    QVERIFY(updatefile::pattern(8, 4099) != a);
    // The engine tests find a block written to the wrong place only if blocks differ.
    QVERIFY(a.mid(0, 1024) != a.mid(1024, 1024));
}

void tst_UpdateFileBuilder::commandLine_data()
{
    QTest::addColumn<QStringList>("specs");
    QTest::addColumn<QList<Image>>("images");

    QTest::newRow("pattern with its position as seed")
        << QStringList{QStringLiteral("name=BOOT,version=1.0.0.3,address=0x0,minhw=1,pattern=1000"),
                       QStringLiteral("name=APP,version=0x03040100,address=2097152,pattern=5,seed=9")}
        << QList<Image>{image("BOOT", 0x01000003, 0, 1, updatefile::pattern(1, 1000)),
                        image("APP", 0x03040100, 0x200000, 0, updatefile::pattern(9, 5))};
    QTest::newRow("data from a file, reserved bytes")
        << QStringList{QStringLiteral("name=DATA,address=0xFFFFFFF0,file=@source,reserved=0a0B")}
        << QList<Image>{image("DATA", 0, 0xFFFFFFF0, 0, "sixteen bytes!!!", "\x0a\x0b")};
}

void tst_UpdateFileBuilder::commandLine()
{
    QFETCH(QStringList, specs);
    QFETCH(QList<Image>, images);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("sixteen bytes!!!") == 16);
    file.close();

    QStringList arguments;
    for (const QString &spec : specs)
        arguments << QStringLiteral("--image") << QString(spec).replace(QStringLiteral("@source"), source);
    const QString output = dir.filePath(QStringLiteral("out.zarnru"));
    QProcess builder;
    builder.start(QStringLiteral(ZARNRU_BUILD), arguments << output);
    QVERIFY(builder.waitForFinished());
    QVERIFY2(builder.exitCode() == 0, builder.readAllStandardError().constData());
    QCOMPARE(readFile(output).toHex(), updatefile::build(images).toHex());
}

void tst_UpdateFileBuilder::commandLineRefuses_data()
{
    QTest::addColumn<QString>("spec"); // of the one image; empty: no image at all

    QTest::newRow("no image") << QString();
    QTest::newRow("name too long") << "name=ABCDE,address=0,pattern=1";
    QTest::newRow("no address") << "name=A,pattern=1";
    QTest::newRow("file and pattern") << "name=A,address=0,pattern=1,file=x";
    QTest::newRow("missing file") << "name=A,address=0,file=/nonexistent/x";
    QTest::newRow("address too big") << "name=A,address=0x100000000,pattern=1";
    QTest::newRow("past the end of the flash") << "name=A,address=0xFFFFFFFF,pattern=2";
}

void tst_UpdateFileBuilder::commandLineRefuses()
{
    QFETCH(QString, spec);
    QTemporaryDir dir;
    QProcess builder;
    builder.setWorkingDirectory(dir.path());
    const QStringList image = spec.isEmpty() ? QStringList() : QStringList{QStringLiteral("-i"), spec};
    builder.start(QStringLiteral(ZARNRU_BUILD), image + QStringList{QStringLiteral("out.zarnru")});
    QVERIFY(builder.waitForFinished());
    QVERIFY(builder.exitCode() != 0);
    QVERIFY(builder.readAllStandardError().startsWith("zarnru-build: "));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.zarnru"))));
}

// The demo's file: a chain of three images, one of them off a page boundary.
void tst_UpdateFileBuilder::sampleFile()
{
    const QByteArray file = readFile(QStringLiteral(ZARN_SAMPLE_FILE));
    QStringList images;
    for (qint64 position = 0, next = 1; next != 0; position += next) {
        QVERIFY(position + updatefile::headerSize <= file.size());
        const char *header = file.constData() + position;
        next = qFromLittleEndian<quint32>(header + 28);
        images << QString::fromLatin1(QByteArray(header + 12, 4)).remove(QChar(0)) + QLatin1Char('@') +
                      QString::number(qFromLittleEndian<quint32>(header + 4), 16);
    }
    QCOMPARE(images, QStringList({QStringLiteral("BOOT@0"), QStringLiteral("KERN@80400"),
                                  QStringLiteral("APP@200000")}));
    QVERIFY(file.size() > 1024 * 1024 && file.size() < 2 * 1024 * 1024);
}

QTEST_GUILESS_MAIN(tst_UpdateFileBuilder)
#include "tst_updatefilebuilder.moc"
