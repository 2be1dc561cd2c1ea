#include "enginetestkit.h"
#include "testsupport.h"
#include "updatefilereader.h"
#include "updaterthread.h"

#include <cstring>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <sys/stat.h>

using Header = UpdaterThread::imgHeader;

namespace {

QByteArray withNextOffset(QByteArray file, int headerAt, quint32 nextOffset)
{
    qToLittleEndian(nextOffset, file.data() + headerAt + updatefilereader::nextOffsetPosition);
    return file;
}

QString fields(const Header &h)
{
    return QStringLiteral("%1 %2 %3 %4 %5 ")
               .arg(h.version, 0, 16)
               .arg(h.address, 0, 16)
               .arg(h.minHW, 0, 16)
               .arg(h.size)
               .arg(h.offset) +
           QString::fromLatin1(QByteArray(h.name, 4).toHex());
}

Header record(quint32 address, quint32 size, const char *name)
{
    Header h{};
    h.address = address;
    h.size = size;
    const QByteArray bytes = QByteArray(name).leftJustified(sizeof h.name, '\0', true);
    std::memcpy(h.name, bytes.constData(), sizeof h.name);
    return h;
}

} // namespace

class TestUpdateFileReader : public QObject
{
    Q_OBJECT

private slots:
    void chain_data();
    void chain();
    void fieldsAppended();
    void unopenable_data();
    void unopenable();
    void check_data();
    void check();

private:
    QTemporaryDir dir;
};

void TestUpdateFileReader::chain_data()
{
    using enginetest::image;
    using updatefile::pattern;
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<uint>>("offsets");
    QTest::addColumn<QList<uint>>("sizes");

    const QByteArray one = updatefile::build({image("ONE", 0, pattern(1, 100))});
    const QByteArray two = updatefile::build({image("A", 0, pattern(2, 10)), image("B", 0, pattern(3, 10))});
    const QByteArray three = updatefile::build(
        {image("A", 0, pattern(4, 10)), image("B", 0, pattern(5, 20)), image("C", 0, pattern(6, 30))});

    QTest::newRow("three blocks") << three << 0 << QList<uint>{0, 42, 94} << QList<uint>{42, 52, 62};
    QTest::newRow("header alone") << updatefile::build({image("H", 0, {})}) << 0 << QList<uint>{0}
                                  << QList<uint>{32};
    QTest::newRow("empty file") << QByteArray() << -2 << QList<uint>{} << QList<uint>{};
    QTest::newRow("shorter than a header") << one.left(31) << -2 << QList<uint>{} << QList<uint>{};
    QTest::newRow("nextOffset past the end")
        << withNextOffset(one, 0, 1000) << -2 << QList<uint>{0} << QList<uint>{1000};
    QTest::newRow("nextOffset at the end")
        << withNextOffset(one, 0, 132) << -2 << QList<uint>{0} << QList<uint>{132};
    QTest::newRow("cut inside the second header")
        << two.left(42 + 20) << -2 << QList<uint>{0} << QList<uint>{42};
}

void TestUpdateFileReader::chain()
{
    QFETCH(QByteArray, file);
    QFETCH(int, result);
    QFETCH(QList<uint>, offsets);
    QFETCH(QList<uint>, sizes);

    const QString path = dir.filePath(QStringLiteral("chain.zarnru"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(file);
    out.close();

    QList<Header> list;
    QCOMPARE(UpdaterThread::getHeaderInfo(path, &list), result);
    QList<uint> gotOffsets, gotSizes;
    for (const Header &h : list) {
        gotOffsets << h.offset;
        gotSizes << h.size;
    }
    QCOMPARE(gotOffsets, offsets);
    QCOMPARE(gotSizes, sizes);
}

// Records are appended to what the list holds; bytes 16 to 27 of a header reach no field.
void TestUpdateFileReader::fieldsAppended()
{
    updatefile::Image a = enginetest::image("AB", 0x100000, updatefile::pattern(7, 8));
    a.version = 0x01020304;
    a.minHW = 7;
    a.reserved = QByteArray(12, char(0xA5));
    updatefile::Image b = enginetest::image("ABCD", 0x20000, updatefile::pattern(8, 4));
    b.version = 0xFFEEDDCC;
    b.minHW = 0xFFFFFFFF;
    b.reserved = QByteArray::fromHex("00ff00ff00ff00ff00ff00ff");

    QList<Header> list{record(0x111, 1, "OLD1")};
    QCOMPARE(UpdaterThread::getHeaderInfo(enginetest::writeUpdateFile(dir, {a, b}), &list), 0);
    QCOMPARE(list.size(), 3);
    QCOMPARE(::fields(list.at(0)), QStringLiteral("0 111 0 1 0 4f4c4431"));
    QCOMPARE(::fields(list.at(1)), QStringLiteral("1020304 100000 7 40 0 41420000"));
    QCOMPARE(::fields(list.at(2)), QStringLiteral("ffeeddcc 20000 ffffffff 36 40 41424344"));
}

void TestUpdateFileReader::unopenable_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << dir.filePath(QStringLiteral("missing.zarnru"));
    QTest::newRow("directory") << dir.path();
    // Opened as a regular file would be, it would wait for a writer that never comes.
    const QString fifo = dir.filePath(QStringLiteral("fifo.zarnru"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 || QFileInfo(fifo).exists());
    QTest::newRow("FIFO") << fifo;
}

void TestUpdateFileReader::unopenable()
{
    QFETCH(QString, path);
    QList<Header> list{record(0x111, 1, "OLD1")};
    testsupport::MessageLog log;
    QCOMPARE(UpdaterThread::getHeaderInfo(path, &list), -1);
    QCOMPARE(list.size(), 1);
    QCOMPARE(log.messages(), QStringList{QStringLiteral("Failed opening file:  \"%1\"").arg(path)});
    QCOMPARE(log.lines().first().type, QtDebugMsg);
}

void TestUpdateFileReader::check_data()
{
    QTest::addColumn<QList<uint>>("addresses");
    QTest::addColumn<QList<uint>>("sizes");
    QTest::addColumn<int>("chain");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<QString>("message");

    const qint64 small = 0x1000;
    QTest::newRow("32 MiB image") << QList<uint>{0} << QList<uint>{0x2000000} << 0 << small << QString();
    QTest::newRow("ends at the last address")
        << QList<uint>{0xFFFFF000} << QList<uint>{0x1000} << 0 << small << QString();
    QTest::newRow("next header inside this one")
        << QList<uint>{0, 0x100000} << QList<uint>{0x10, 0x100} << 0 << small
        << QStringLiteral("Error in f.zarnru: image 1 (BOOT) is shorter than its header, size 0x10");
    QTest::newRow("same address twice")
        << QList<uint>{0x40000, 0x40000} << QList<uint>{0x120, 0x120} << 0 << small
        << QStringLiteral("Error in f.zarnru: image 2 (FS) at 0x40000 would erase image 1 (BOOT) at 0x40000");
    QTest::newRow("an empty image still erases a page")
        << QList<uint>{0x20000, 0x10000} << QList<uint>{0x1020, 0x20} << 0 << small
        << QStringLiteral("Error in f.zarnru: image 2 (FS) at 0x10000 would erase image 1 (BOOT) at 0x20000");
    QTest::newRow("later image inside an earlier one's last page")
        << QList<uint>{0, 0x10000} << QList<uint>{0x8020, 0x1020} << 0 << small << QString();
    QTest::newRow("packed back to back")
        << QList<uint>{0, 0x1000, 0x2000} << QList<uint>{0x1020, 0x1020, 0x1020} << 0 << small << QString();
    QTest::newRow("4 GiB file") << QList<uint>{0} << QList<uint>{0x100} << 0 << (qint64(1) << 32)
                                << QStringLiteral("Error in f.zarnru: the file is 4 GiB or larger");
}

void TestUpdateFileReader::check()
{
    QFETCH(QList<uint>, addresses);
    QFETCH(QList<uint>, sizes);
    QFETCH(int, chain);
    QFETCH(qint64, fileSize);
    QFETCH(QString, message);

    const char *names[] = {"BOOT", "FS", ""};
    QList<Header> list;
    for (int i = 0; i < addresses.size(); ++i)
        list << record(addresses.at(i), sizes.at(i), names[i]);
    const updatefilereader::Finding finding = updatefilereader::check(list, chain, fileSize);
    QCOMPARE(finding.fault == updatefilereader::Fault::None, message.isEmpty());
    QCOMPARE(updatefilereader::describe(finding, QStringLiteral("f.zarnru"), list), message);
}

QTEST_GUILESS_MAIN(TestUpdateFileReader)
#include "tst_updatefilereader.moc"
