#include "enginetestkit.h"
#include "testsupport.h"
#include "updaterthread.h"

#include <fcntl.h>
#include <memory>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

using namespace enginetest;

namespace {

constexpr quint32 page = 0x20000;
const char reading[] = "Reading from Flash memory at 0x";
const char writing[] = "Writing to Flash memory at 0x";
const char erasing[] = "Erasing page at 0x";
const QString verifying = QStringLiteral("Verifying Flash memory content.");

enum Fault { WeakWordHolds, WeakWord, ZeroWhereOne, StuckBits };

QStringList pass(quint32 address, quint32 size)
{
    return blockLines(reading, address, size) << verifying;
}

QStringList pageRepair(quint32 pageAddress)
{
    return {hexLine(erasing, pageAddress), hexLine(writing, pageAddress)};
}

} // namespace

class TestFlashOperations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void erase_data();
    void erase();
    void write_data();
    void write();
    void compare_data();
    void compare();
    void repairs_data();
    void repairs();
    void pageRepairLines();

private:
    // An update file of one image holding data, opened for the operations.
    void openImage(const QByteArray &data);

    QTemporaryDir dir;
    QFile file;
    int fd = -1;
    std::unique_ptr<UpdaterThread> worker;
    std::unique_ptr<Recorder> recorder;
};

void TestFlashOperations::init()
{
    zarnsim::reset();
    fd = ::open(zarnsim::flashPath, O_RDWR);
    QVERIFY(fd >= 0);
    worker = std::make_unique<UpdaterThread>();
    recorder = std::make_unique<Recorder>(worker.get());
}

void TestFlashOperations::cleanup()
{
    recorder.reset();
    worker.reset();
    file.close();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void TestFlashOperations::openImage(const QByteArray &data)
{
    file.close();
    file.setFileName(writeUpdateFile(dir, {image("IMG", 0, data)}));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(worker->unlockFlash(fd) >= 0);
    zarnsim::clearRecord();
    recorder->events.clear();
}

void TestFlashOperations::erase_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("size");
    QTest::addColumn<uint>("failingRequest");
    QTest::addColumn<QList<uint>>("erased");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("current");

    QTest::newRow("size 0") << 0x40000u << 0u << 0u << QList<uint>{} << QStringList() << QStringList{"C:100"};
    QTest::newRow("one page") << 0x40000u << page << 0u << QList<uint>{0x40000}
                              << QStringList{"Erasing page at 0x40000"} << QStringList{"C:0", "C:100"};
    QTest::newRow("one byte more") << 0x40000u << page + 1 << 0u << QList<uint>{0x40000, 0x60000}
                                   << QStringList{"Erasing page at 0x40000", "Erasing page at 0x60000"}
                                   << QStringList{"C:0", "C:50", "C:100"};
    QTest::newRow("off a page boundary") << 0x1234u << page + 1 << 0u << QList<uint>{0x1234, 0x21234}
                                         << QStringList{"Erasing page at 0x1234", "Erasing page at 0x21234"}
                                         << QStringList{"C:0", "C:50", "C:100"};
    QTest::newRow("second request fails")
        << 0u << 3 * page << 2u << QList<uint>{0, 0x20000}
        << QStringList{"Erasing page at 0x0", "Erasing page at 0x20000", "Error erasing page at 0x20000"}
        << QStringList{"C:0", "C:33"};
}

void TestFlashOperations::erase()
{
    QFETCH(quint32, address);
    QFETCH(quint32, size);
    QFETCH(uint, failingRequest);
    QFETCH(QList<uint>, erased);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, current);
    openImage({});
    if (failingRequest != 0)
        zarnsim::failEraseRequest(failingRequest);

    QCOMPARE(worker->eraseFlash(fd, address, size) < 0, failingRequest != 0);
    QCOMPARE(eraseAddresses(), erased);
    QCOMPARE(statusLines(recorder->events), lines);
    QCOMPARE(progressOf(recorder->events, "C:"), current);
}

void TestFlashOperations::write_data()
{
    QTest::addColumn<quint32>("size");
    QTest::addColumn<QList<quint64>>("writes");

    QList<quint64> pageWrites;
    for (int k = 0; k < 128; ++k)
        pageWrites << 1024;
    QTest::newRow("0 bytes") << 0u << QList<quint64>{0};
    QTest::newRow("1023 bytes") << 1023u << QList<quint64>{1023};
    QTest::newRow("1024 bytes") << 1024u << QList<quint64>{1024, 0};
    QTest::newRow("one page") << page << (pageWrites + QList<quint64>{0});
    QTest::newRow("one page and a byte") << page + 1 << (pageWrites + QList<quint64>{1});
}

void TestFlashOperations::write()
{
    QFETCH(quint32, size);
    QFETCH(QList<quint64>, writes);
    const quint32 address = 0x60200;
    const QByteArray data = updatefile::pattern(size, int(size));
    openImage(data);

    QCOMPARE(worker->writeToFlash(fd, file, 0, address, size), 0);
    QCOMPARE(writeSizes(), writes);
    QCOMPARE(flashCalls(zarnsim::Op::Write).front().address, address);
    QCOMPARE(statusLines(recorder->events), blockLines(writing, address, size));
    QCOMPARE(flash(address, size), data);
    QCOMPARE(recorder->events.mid(0, 2), QStringList({"C:0", "T:0"}));
}

void TestFlashOperations::compare_data()
{
    QTest::addColumn<quint32>("size");
    QTest::addColumn<int>("differingByte");
    QTest::addColumn<QStringList>("current");

    QTest::newRow("250 words") << 1000u << -1 << QStringList{"C:0", "C:40", "C:80"};
    QTest::newRow("below a word") << 3u << 0 << QStringList();
    QTest::newRow("6 bytes") << 6u << 5 << QStringList{"C:0"};
}

void TestFlashOperations::compare()
{
    QFETCH(quint32, size);
    QFETCH(int, differingByte);
    QFETCH(QStringList, current);
    QByteArray data = updatefile::pattern(9, int(size));
    openImage(data);
    if (differingByte >= 0)
        data[differingByte] = char(~data.at(differingByte));
    setFlash(0x40000, data);

    QCOMPARE(worker->verifyAndRepair(fd, file, 0, 0x40000, size), 0);
    QCOMPARE(statusLines(recorder->events), QStringList{verifying});
    const QStringList events = recorder->events;
    QCOMPARE(progressOf(events.mid(events.indexOf("S:" + verifying) + 1), "C:"), current);
    QCOMPARE(writeSizes(), QList<quint64>());
    QCOMPARE(flashCalls(zarnsim::Op::Read).back().size, quint64(size));
}

void TestFlashOperations::repairs_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<uint>>("erased");
    QTest::addColumn<int>("wordWrites");
    QTest::addColumn<QStringList>("checks");

    const quint32 address = 0x40000;
    const quint32 size = 0x800;
    const quint32 word = 0x408;
    const QStringList once = pass(address, size);
    const QStringList wordRepair{hexLine(writing, word)};
    const QStringList holds{"\"Check: 5a5a5aff\""};

    QTest::newRow("weak word, the word write holds")
        << int(WeakWordHolds) << 0 << (once + wordRepair) << QList<uint>{} << 1 << holds;
    QTest::newRow("weak word, the word write fails")
        << int(WeakWord) << 0 << (once + wordRepair + pageRepair(address) + once) << QList<uint>{address} << 1
        << QStringList{"\"Check: ffffffff\""};
    QTest::newRow("0 where the file holds 1") << int(ZeroWhereOne) << 0 << (once + pageRepair(address) + once)
                                              << QList<uint>{address} << 0 << QStringList();
    const QStringList repaired = once + pageRepair(address);
    QTest::newRow("stuck bits") << int(StuckBits) << -1
                                << (repaired + repaired + repaired + once +
                                    QStringList{
                                        hexLine("Error verifying Flash memory at 0x", address + word)})
                                << QList<uint>{address, address, address} << 0 << QStringList();
}

void TestFlashOperations::repairs()
{
    QFETCH(int, fault);
    QFETCH(int, result);
    QFETCH(QStringList, lines);
    QFETCH(QList<uint>, erased);
    QFETCH(int, wordWrites);
    QFETCH(QStringList, checks);
    const quint32 address = 0x40000;
    const quint32 size = 0x800;
    const quint32 word = 0x408;

    QByteArray data = updatefile::pattern(11, int(size));
    data.replace(int(word), 4, fault == ZeroWhereOne ? QByteArray::fromHex("01000000") : "\xff\x5a\x5a\x5a");
    openImage(data);
    // The bulk write never holds on a weak word; the word write holds on the second attempt.
    if (fault == WeakWordHolds || fault == WeakWord)
        zarnsim::addWeakWord(address + word, fault == WeakWordHolds ? 2 : 3);
    if (fault == StuckBits)
        zarnsim::addStuckBits(address + word, 0x01);
    QCOMPARE(worker->writeToFlash(fd, file, 0, address, size), 0);
    if (fault == ZeroWhereOne)
        setFlash(address + word, QByteArray(4, '\0'));
    // A page rewrite must leave erased flash past the image's end.
    setFlash(address + size, QByteArray(16, '\0'));
    zarnsim::clearRecord();
    recorder->events.clear();

    testsupport::MessageLog log;
    QCOMPARE(worker->verifyAndRepair(fd, file, 0, address, size), result);
    QCOMPARE(statusLines(recorder->events), lines);
    QCOMPARE(log.messages().filter(QStringLiteral("Check: ")), checks);
    QCOMPARE(eraseAddresses(), erased);
    QCOMPARE(int(writeSizes().count(4)), wordWrites);
    if (result == 0)
        QCOMPARE(flash(address, size), data);
    QCOMPARE(flash(address + size, 16), QByteArray(16, erased.isEmpty() ? '\0' : char(0xFF)));
}

// The repair of a word that lost bits, at the positions the operators know from
// the field: image at 0x100000, difference at image offset 0x2a004.
void TestFlashOperations::pageRepairLines()
{
    const quint32 address = 0x100000;
    const quint32 size = 0x40000;
    QByteArray data = updatefile::pattern(12, int(size));
    data.replace(0x2A004, 4, QByteArray::fromHex("79563412"));
    openImage(data);
    zarnsim::addLosingWord(address + 0x2A004, 0x1);
    QCOMPARE(worker->writeToFlash(fd, file, 0, address, size), 0);
    recorder->events.clear();

    testsupport::MessageLog log;
    QCOMPARE(worker->verifyAndRepair(fd, file, 0, address, size), 0);
    QCOMPARE(statusLines(recorder->events), pass(address, size) + pageRepair(0x120000) + pass(address, size));
    QCOMPARE(log.messages(),
             QStringList({
                 "int UpdaterThread::verifyAndRepair(int, QFile&, u_int32_t, u_int32_t, u_int32_t)",
                 "-----------------------------------",
                 "\"Mismatch between buffers at 0x2a004\"",
                 "\"12345679 != 12345678\"",
                 "Trying to repair things...",
                 "**************************************",
                 "\"Erasing page at 0x120000\"",
                 "\"Writing Flash page at 0x20000\"",
                 "-----------------------------------\n\n",
             }));
    for (const testsupport::LogLine &line : log.lines()) {
        QCOMPARE(line.category, QStringLiteral("default"));
        QVERIFY(line.file.endsWith(QLatin1String("updaterthread.cpp")));
        QVERIFY(line.function.contains(QLatin1String("verifyAndRepair")));
    }
    QCOMPARE(eraseAddresses(), QList<uint>{0x120000});
    QCOMPARE(flash(address, size), data);
}

QTEST_GUILESS_MAIN(TestFlashOperations)
#include "tst_flashoperations.moc"
