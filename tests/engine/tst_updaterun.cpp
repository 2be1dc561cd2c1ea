#include "enginetestkit.h"
#include "testsupport.h"
#include "updaterthread.h"

#include <cerrno>
#include <fcntl.h>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace enginetest;

namespace {

const QString initLine = QStringLiteral("Updater initialization...");
const QString startErase = QStringLiteral("Started erasing Flash memory...");
const QString startWrite = QStringLiteral("Started writing to Flash memory...");
const QString startVerify = QStringLiteral("Verifying Flash memory...");
const QString content = QStringLiteral("Verifying Flash memory content.");
const QString done = QStringLiteral("Done updating. It is now safe to restart the computer.");
const QString finalCheck = QStringLiteral("Reading back the whole update...");

enum FileKind { Valid, Missing, Empty, Truncated, Oversized, Wrapping, Overlapping };
enum DeviceFault { EraseFault, StuckFault, UnlockFault };

} // namespace

class TestUpdateRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void refused_data();
    void refused();
    void smallRun();
    void progress_data();
    void progress();
    void pageRepairRestartsReadBack();
    void failures_data();
    void failures();
    void deviceResults_data();
    void deviceResults();

private:
    QString makeFile(FileKind kind);
    // Runs a whole update of path on this thread and returns all it reported.
    QStringList run(const QString &path);

    QTemporaryDir dir;
};

void TestUpdateRun::init()
{
    zarnsim::reset();
}

QString TestUpdateRun::makeFile(FileKind kind)
{
    const QString path = dir.filePath(QStringLiteral("run.zarnru"));
    QFile::remove(path);
    QByteArray bytes;
    switch (kind) {
    case Valid:
        return writeUpdateFile(dir, {image("APP", 0x40000, updatefile::pattern(1, 1000))});
    case Missing:
        return path;
    case Empty:
        break;
    case Truncated:
        bytes = updatefile::build({image("A", 0, QByteArray(100, 'a')), image("B", 0x100000, {})}).left(140);
        break;
    case Oversized: {
        // Sparse: the image data is a hole of zeros past the header.
        const QString written = writeUpdateFile(dir, {image("BIG", 0, {})});
        QFile::resize(written, 0x2000001);
        return written;
    }
    case Wrapping:
        bytes = updatefile::build(
            {image("A", 0, QByteArray(10, 'a')), image("WRAP", 0xFFFFFF00, QByteArray(0xE1, 'w'))});
        break;
    case Overlapping:
        // The second image's page from 0x10000 reaches the first image's data.
        bytes = updatefile::build(
            {image("CFG", 0x20000, QByteArray(64, 'c')), image("BOOT", 0x10000, QByteArray(64, 'b'))});
        break;
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return QString();
    return path;
}

QStringList TestUpdateRun::run(const QString &path)
{
    UpdaterThread worker;
    worker.setFilename(path);
    Recorder recorder(&worker);
    worker.process();
    return recorder.events;
}

void TestUpdateRun::refused_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("deviceMissing");
    QTest::addColumn<QString>("line");

    QTest::newRow("missing device") << int(Valid) << true << QStringLiteral("Error opening /dev/zarn_flash");
    QTest::newRow("unreadable file") << int(Missing) << false << QStringLiteral("Error opening %1");
    QTest::newRow("empty file") << int(Empty) << false << QStringLiteral("Error in %1: no image found");
    QTest::newRow("truncated file") << int(Truncated) << false
                                    << QStringLiteral("Error in %1: image header cut short at 0x84");
    QTest::newRow("oversized image") << int(Oversized) << false
                                     << QStringLiteral("Error in %1: image 1 (BIG) is larger than 32 MiB, "
                                                       "size 0x2000001");
    QTest::newRow("wrapping image") << int(Wrapping) << false
                                    << QStringLiteral(
                                           "Error in %1: image 2 (WRAP) at 0xffffff00 runs past the "
                                           "last flash address 0xffffffff");
    QTest::newRow("image erasing an earlier one")
        << int(Overlapping) << false
        << QStringLiteral("Error in %1: image 2 (BOOT) at 0x10000 would erase image 1 (CFG) at 0x20000");
}

// Whatever is wrong, the run says so in one line and the flash is never touched.
void TestUpdateRun::refused()
{
    QFETCH(int, kind);
    QFETCH(bool, deviceMissing);
    QFETCH(QString, line);
    const QString path = makeFile(FileKind(kind));
    QVERIFY(!path.isEmpty());
    if (deviceMissing)
        zarnsim::setNodeError(zarnsim::Node::Flash, ENOENT);
    if (line.contains(QLatin1String("%1")))
        line = line.arg(path);

    QCOMPARE(run(path), QStringList({"S:" + initLine, "C:0", "T:0", "S:" + line, "finished"}));
    const std::vector<zarnsim::Call> calls = zarnsim::record();
    if (deviceMissing) {
        QCOMPARE(int(calls.size()), 1);
        QVERIFY(calls.front().op == zarnsim::Op::Open && calls.front().result < 0);
    } else {
        QVERIFY(calls.empty());
    }
}

void TestUpdateRun::smallRun()
{
    const QByteArray data = updatefile::pattern(1, 1000);
    const QString path = makeFile(Valid);
    testsupport::MessageLog log;

    const QStringList events = run(path);
    QCOMPARE(statusLines(events),
             QStringList({initLine, startErase, "Erasing page at 0x40000", "Erasing page at 0x40000",
                          startWrite, "Writing to Flash memory at 0x40000", startVerify,
                          "Reading from Flash memory at 0x40000", content, finalCheck, done}));
    QCOMPARE(events.mid(events.size() - 4), QStringList({"S:" + done, "C:100", "T:100", "finished"}));
    // The current bar runs from 0 to 100 once per erase pass.
    const int eraseStart = int(events.indexOf("S:" + startErase));
    const QStringList erasing = events.mid(eraseStart, events.indexOf("S:" + startWrite) - eraseStart);
    QCOMPARE(progressOf(erasing, "C:"), QStringList({"C:0", "C:100", "C:0", "C:100"}));
    // Both erase passes start the bar over; from the write phase on it only climbs.
    int last = 0;
    for (const QString &total : progressOf(events.mid(events.indexOf("S:" + startWrite)), "T:")) {
        QVERIFY2(total.mid(2).toInt() >= last, qPrintable(total));
        last = total.mid(2).toInt();
    }

    QCOMPARE(log.messages(),
             QStringList({"int UpdaterThread::unlockFlash(int)",
                          "int UpdaterThread::eraseFlash(int, u_int32_t, u_int32_t)",
                          "int UpdaterThread::eraseFlash(int, u_int32_t, u_int32_t)",
                          "int UpdaterThread::writeToFlash(int, QFile&, u_int32_t, u_int32_t, u_int32_t)",
                          "int UpdaterThread::verifyAndRepair(int, QFile&, u_int32_t, u_int32_t, "
                          "u_int32_t)"}));
    const std::vector<zarnsim::Call> calls = zarnsim::record();
    QCOMPARE(calls.front().flags, O_RDWR);
    QVERIFY(calls.back().op == zarnsim::Op::Close);
    QCOMPARE(flashCalls(zarnsim::Op::Ioctl).front().phrase, std::string("heedful!!"));
    QCOMPARE(eraseAddresses(), QList<uint>({0x40000, 0x40000}));
    QCOMPARE(writeSizes(), QList<quint64>({1024, 8}));
    // Read back once to verify, then once more, the image's own bytes alone, for the final check.
    QList<quint64> reads;
    for (const zarnsim::Call &call : flashCalls(zarnsim::Op::Read))
        reads << call.size;
    QCOMPARE(reads, QList<quint64>({1024, 8, 1000}));
    // The image runs 32 bytes past the file's end; those hold erased flash.
    QCOMPARE(flash(0x40000, 1032), data + QByteArray(32, char(0xFF)));
}

void TestUpdateRun::progress_data()
{
    QTest::addColumn<QList<uint>>("dataSizes");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("total");

    const QList<uint> one{2016}; // 2 KiB with its header
    QTest::newRow("erase starts at 0") << one << "S:" + startErase << 0;
    QTest::newRow("write starts at 5") << one << "S:" + startWrite << 5;
    QTest::newRow("half written, 49") << one << "S:Writing to Flash memory at 0x0" << 49;
    QTest::newRow("read-back starts at 93") << one << "S:" + startVerify << 93;
    QTest::newRow("compare starts at 97") << one << "S:" + content << 97;
    QTest::newRow("1 and 3 shares, second half written, 61")
        << QList<uint>{2016, 6112} << "S:Writing to Flash memory at 0x100800" << 61;
}

void TestUpdateRun::progress()
{
    QFETCH(QList<uint>, dataSizes);
    QFETCH(QString, after);
    QFETCH(int, total);
    QList<updatefile::Image> images;
    for (int i = 0; i < dataSizes.size(); ++i)
        images << image("IMG", quint32(i) * 0x100000, updatefile::pattern(uint(i), int(dataSizes.at(i))));

    const QStringList events = run(writeUpdateFile(dir, images));
    QCOMPARE(events.at(events.size() - 4), "S:" + done);
    QCOMPARE(totalAfter(events, after), total);
}

void TestUpdateRun::pageRepairRestartsReadBack()
{
    const QByteArray data = updatefile::pattern(2, 3000);
    zarnsim::addLosingWord(0x40000 + 0x400, 0xFFFFFFFF);
    const QStringList events = run(writeUpdateFile(dir, {image("APP", 0x40000, data)}));

    const int repair = int(events.indexOf("S:Erasing page at 0x40000", events.indexOf("S:" + content)));
    QVERIFY(repair > 0);
    QCOMPARE(totalAfter(events, "S:Writing to Flash memory at 0x40000", repair), 93);
    QCOMPARE(progressOf(events.mid(repair), "C:").first(), QStringLiteral("C:0"));
    QCOMPARE(events.mid(events.size() - 4), QStringList({"S:" + done, "C:100", "T:100", "finished"}));
    QCOMPARE(eraseAddresses(), QList<uint>({0x40000, 0x40000, 0x40000}));
    QCOMPARE(flash(0x40000, 3000), data);
}

void TestUpdateRun::failures_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("lastLines");
    QTest::addColumn<QList<uint>>("erased");

    // The other two images are never touched.
    QTest::newRow("erase fails on the first of three")
        << int(EraseFault)
        << QStringList{initLine, startErase, "Erasing page at 0x0", "Error erasing page at 0x0"}
        << QList<uint>{0x0};
    // Three page repairs, then the run ends with the address it could not program.
    QTest::newRow("stuck bits end verification")
        << int(StuckFault) << QStringList{content, "Error verifying Flash memory at 0x10"}
        << QList<uint>{0x0, 0x0, 0x0, 0x0, 0x0};
    // A refused unlock alone does not end the run; the locked device then refuses the erase.
    QTest::newRow("refused unlock") << int(UnlockFault)
                                    << QStringList{initLine, "Error unlocking Flash memory.", startErase,
                                                   "Erasing page at 0x0", "Error erasing page at 0x0"}
                                    << QList<uint>{0x0};
}

// Every failure after the flash was touched ends the run with its error line:
// no success line, no 100 %, finished() once, the device closed.
void TestUpdateRun::failures()
{
    QFETCH(int, fault);
    QFETCH(QStringList, lastLines);
    QFETCH(QList<uint>, erased);
    QByteArray data = updatefile::pattern(3, 500);
    data[0x10] = char(0xFF);
    if (fault == EraseFault)
        zarnsim::failEraseAt(0x0);
    else if (fault == StuckFault)
        zarnsim::addStuckBits(0x10, 0x80);
    else
        zarnsim::setUnlockRefused(true);
    const QStringList events = run(writeUpdateFile(
        dir, {image("ONE", 0x0, data), image("TWO", 0x100000, data), image("THRE", 0x200000, data)}));

    const QStringList lines = statusLines(events);
    QCOMPARE(lines.mid(lines.size() - lastLines.size()), lastLines);
    QCOMPARE(events.last(), QStringLiteral("finished"));
    QCOMPARE(events.count("finished"), 1);
    QVERIFY(!events.contains("T:100") && !lines.contains(done));
    QCOMPARE(eraseAddresses(), erased);
    QCOMPARE(flashCalls(zarnsim::Op::Write).empty(), fault != StuckFault);
    QVERIFY(zarnsim::record().back().op == zarnsim::Op::Close);
}

void TestUpdateRun::deviceResults_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("call");  // counted from 1; 0: every call moves at most shortBytes
    QTest::addColumn<int>("error"); // 0: the flash is changed under the run before the final check
    QTest::addColumn<QString>("lastLine");

    using zarnsim::Op;
    const int read = int(Op::Read);
    const int write = int(Op::Write);
    const int seek = int(Op::Lseek);
    const int erase = int(Op::Ioctl);
    // Two images: APP at 0x40000 (3000 bytes, a word at 0x400 that holds only on its
    // second write), DATA at 0x100000. Seeks: 1 write APP, 2 read back APP, 3 and 4
    // the word repair, 5 write DATA, 6 read back DATA, 7 and 8 the final check.
    QTest::newRow("seek fails in the first write")
        << seek << 1 << EINVAL << "Error seeking Flash memory at 0x40000: Invalid argument";
    QTest::newRow("seek fails in the read-back")
        << seek << 2 << EIO << "Error seeking Flash memory at 0x40000: Input/output error";
    QTest::newRow("seek fails in a word repair")
        << seek << 3 << EIO << "Error seeking Flash memory at 0x40400: Input/output error";
    QTest::newRow("seek fails at the second image's write")
        << seek << 5 << EINVAL << "Error seeking Flash memory at 0x100000: Invalid argument";
    QTest::newRow("seek fails in the final check")
        << seek << 8 << EIO << "Error seeking Flash memory at 0x100000: Input/output error";
    QTest::newRow("write fails") << write << 2 << EIO
                                 << "Error writing Flash memory at 0x40400: Input/output error";
    QTest::newRow("read fails") << read << 1 << EIO
                                << "Error reading Flash memory at 0x40000: Input/output error";
    QTest::newRow("erase fails in a page repair")
        << erase << 3 << EIO << "Error erasing Flash memory at 0x40000: Input/output error";
    QTest::newRow("writes of 512 bytes") << write << 0 << 512 << done;
    QTest::newRow("reads of 512 bytes") << read << 0 << 512 << done;
    QTest::newRow("interrupted seek") << seek << 2 << EINTR << done;
    QTest::newRow("interrupted write") << write << 3 << EINTR << done;
    QTest::newRow("interrupted read") << read << 2 << EINTR << done;
    QTest::newRow("interrupted erase") << erase << 1 << EINTR << done;
    QTest::newRow("flash changed before the final check")
        << read << -1 << 0
        << "Error verifying image 2 (DATA): Flash memory differs from the update at 0x100010";
}

// Every device call's result counts: a run either ends with its done line and
// the flash holding exactly the file's images, or with a line that names the
// operation, the address and the cause, and no done line.
void TestUpdateRun::deviceResults()
{
    QFETCH(int, op);
    QFETCH(int, call);
    QFETCH(int, error);
    QFETCH(QString, lastLine);
    const QByteArray app = updatefile::pattern(4, 3000);
    const QByteArray data = updatefile::pattern(5, 2000);
    const QString path = writeUpdateFile(dir, {image("APP", 0x40000, app), image("DATA", 0x100000, data)});
    zarnsim::addWeakWord(0x40400, 2);
    if (op == int(zarnsim::Op::Ioctl) && error == EIO)
        zarnsim::addLosingWord(0x40800, 0xFFFFFFFF); // a page repair, whose erase then fails
    if (call > 0)
        zarnsim::failFlashCall(zarnsim::Op(op), unsigned(call), error);
    else if (call == 0)
        zarnsim::setShortTransfers(zarnsim::Op(op), uint32_t(error));

    UpdaterThread worker;
    worker.setFilename(path);
    Recorder recorder(&worker);
    QObject::connect(&worker, &UpdaterThread::updateStatusText, [&](const QString &line) {
        if (call < 0 && line == finalCheck)
            setFlash(0x100010, QByteArray(1, char(~data.at(0x10))));
    });
    worker.process();

    const QStringList lines = statusLines(recorder.events);
    const bool flashHoldsFile = flash(0x40000, 3000) == app && flash(0x100000, 2000) == data;
    if (lastLine == done) {
        QCOMPARE(recorder.events.mid(recorder.events.size() - 4),
                 QStringList({"S:" + done, "C:100", "T:100", "finished"}));
        QVERIFY(flashHoldsFile);
        // Short transfers are carried on, never taken for damage to repair.
        int erases = 0;
        for (const zarnsim::Call &erase : flashCalls(zarnsim::Op::Ioctl))
            erases += erase.request == zarnsim::flashIocErasePage && erase.result == 0;
        QCOMPARE(erases, 4);
    } else {
        QCOMPARE(lines.last(), lastLine);
        QCOMPARE(recorder.events.count("finished"), 1);
        QVERIFY(!lines.contains(done) && !recorder.events.contains("T:100"));
    }
    if (QTest::currentDataTag() == QByteArray("seek fails at the second image's write"))
        QCOMPARE(flash(0x40000, 3000), app); // the first image, verified, is left alone
    QVERIFY(zarnsim::record().back().op == zarnsim::Op::Close);
}

QTEST_GUILESS_MAIN(TestUpdateRun)
#include "tst_updaterun.moc"
