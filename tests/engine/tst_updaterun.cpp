// The engine on the test's thread against the simulated device: the update
// file's headers, the check made before the flash is touched, whole runs.

#include "runkit.h"
#include "updatefilereader.h"

#include <cerrno>
#include <cstring>
#include <QBuffer>
#include <QDir>
#include <QtTest>
#include <random>
#include <sys/stat.h>

using namespace runkit;
using Header = UpdaterThread::imgHeader;
using zarnsim::Op;

namespace {

const QString startErase = QStringLiteral("Started erasing Flash memory...");
const QString startWrite = QStringLiteral("Started writing to Flash memory...");
const QString startVerify = QStringLiteral("Verifying Flash memory...");
const QString content = QStringLiteral("Verifying Flash memory content.");
const QString finalCheck = QStringLiteral("Reading back the whole update...");
const QString dash = QStringLiteral("-----------------------------------");

// One read-back pass of an image: a line per whole 1 KiB block, then the comparison.
QStringList pass(quint32 address, quint32 size)
{
    QStringList lines;
    for (quint32 k = 0; k < size / 1024; ++k)
        lines << "Reading from Flash memory at 0x" + QString::number(address + k * 1024, 16);
    return lines << content;
}

} // namespace

class TestUpdateRun : public QObject
{
    Q_OBJECT

private slots:
    void init() { zarnsim::reset(); }
    void check_data();
    void check();
    void refused_data();
    void refused();
    void smallRun();
    void repairs_data();
    void repairs();
    void deviceResults_data();
    void deviceResults();

private:
    QString write(const QList<updatefile::Image> &images)
    {
        // Blanks and characters outside ASCII reach the file as they are.
        const QString path =
            dir.filePath(QStringLiteral("my  Pr\u00FCfung \u2013 \u66F4\u65B0 \u2713.zarnru"));
        return updatefile::writeFile(path, images) ? path : QString();
    }
    // A whole update of path; onLine sees each status line as it is sent.
    RunRecord run(const QString &path, std::function<void(const QString &)> onLine = {})
    {
        UpdaterThread worker;
        worker.setFilename(path);
        return runHere(worker, std::move(onLine));
    }

    QTemporaryDir dir;
};

void TestUpdateRun::check_data()
{
    QTest::addColumn<QList<uint>>("addresses");
    QTest::addColumn<QList<uint>>("sizes");
    QTest::addColumn<int>("chain");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<QString>("message"); // after "Error in f.zarnru: "

    const auto row = [](const char *name, QList<uint> addresses, QList<uint> sizes, const char *message,
                        int chain = 0, qint64 fileSize = 0x1000) {
        QTest::newRow(name) << addresses << sizes << chain << fileSize << QString::fromLatin1(message);
    };
    row("32 MiB image", {0}, {0x2000000}, "");
    row("above 32 MiB", {0}, {0x2000001}, "image 1 (BOOT) is larger than 32 MiB, size 0x2000001");
    row("ends at the last address", {0xFFFFF000}, {0x1000}, "");
    row("runs past the last address", {0xFFFFF000}, {0x1001},
        "image 1 (BOOT) at 0xfffff000 runs past the last flash address 0xffffffff");
    row("next header inside this one", {0, 0x100000}, {0x10, 0x100},
        "image 1 (BOOT) is shorter than its header, size 0x10");
    row("same address twice", {0x40000, 0x40000}, {0x120, 0x120},
        "image 2 (FS) at 0x40000 would erase image 1 (BOOT) at 0x40000");
    row("an empty image still erases a page", {0x20000, 0x10000}, {0x1020, 0x20},
        "image 2 (FS) at 0x10000 would erase image 1 (BOOT) at 0x20000");
    row("later image inside an earlier one's last page", {0, 0x10000}, {0x8020, 0x1020}, "");
    row("packed back to back", {0, 0x1000, 0x2000}, {0x1020, 0x1020, 0x1020}, "");
    row("no image", {}, {}, "no image found");
    row("chain cut short", {0}, {0x84}, "image header cut short at 0x84", -2);
    row("4 GiB file", {0}, {0x100}, "the file is 4 GiB or larger", 0, qint64(1) << 32);
}

void TestUpdateRun::check()
{
    QFETCH(QList<uint>, addresses);
    QFETCH(QList<uint>, sizes);
    QFETCH(int, chain);
    QFETCH(qint64, fileSize);
    QFETCH(QString, message);
    QList<Header> list;
    for (int i = 0; i < addresses.size(); ++i) {
        list << Header{0, addresses.at(i), 0, sizes.at(i), 0, {}};
        std::memcpy(list.last().name, i ? "FS\0\0" : "BOOT", 4);
    }
    const updatefilereader::Finding finding = updatefilereader::check(list, chain, fileSize);
    QCOMPARE(finding.fault == updatefilereader::Fault::None, message.isEmpty());
    QCOMPARE(updatefilereader::describe(finding, QStringLiteral("f.zarnru"), list),
             message.isEmpty() ? message : "Error in f.zarnru: " + message);
}

void TestUpdateRun::refused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("FIFO without a writer") << "fifo.zarnru";
    QTest::newRow("link to /dev/zero") << "zero.zarnru";
}

// Only a regular file is read: anything else named like an update file is
// refused in one line, and the flash is never touched.
void TestUpdateRun::refused()
{
    QFETCH(QString, name);
    const QString path = dir.filePath(name);
    QVERIFY(name != "fifo.zarnru" || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    QVERIFY(name != "zero.zarnru" || QFile::link(QStringLiteral("/dev/zero"), path));

    std::future<bool> rescued = freeFifoLater(path);
    const QStringList events = run(path).events;
    QVERIFY2(!rescued.get(), "the run sat in open() until a writer came");
    QCOMPARE(events, QStringList({"S:" + initLine, "C:0", "T:0", "S:Error opening " + path, "finished"}));
    QVERIFY(zarnsim::record().empty());
}

// Two images, the second a block of exactly 1 KiB: every line and report, the
// device's record and the flash.
void TestUpdateRun::smallRun()
{
    const QByteArray one = updatefile::pattern(1, 2500);
    const QByteArray two = updatefile::pattern(2, 1024 - 32);
    testsupport::MessageLog log;
    const RunRecord record = run(write({image("APP", 0x40000, one), image("DATA", 0x80000, two)}));

    QCOMPARE(record.lines(),
             QStringList(
                 {initLine, startErase, "Erasing page at 0x40000", "Erasing page at 0x40000", startWrite,
                  "Writing to Flash memory at 0x40000", "Writing to Flash memory at 0x40400", startVerify,
                  "Reading from Flash memory at 0x40000", "Reading from Flash memory at 0x40400", content}) +
                 QStringList({startErase, "Erasing page at 0x80000", "Erasing page at 0x80000", startWrite,
                              "Writing to Flash memory at 0x80000", startVerify,
                              "Reading from Flash memory at 0x80000", content, finalCheck, doneLine}));
    // Each erase pass starts the current bar over; the comparison reports every 100 words.
    QCOMPARE(record.of("C:").join(' '),
             "0 0 100 0 100 0 0 50 0 0 50 0 15 31 47 63 78 94 0 100 0 100 0 0 0 0 0 39 78 29 58 71 100 100");
    QCOMPARE(record.of("T:").join(' '),
             "0 0 3 0 3 3 3 34 66 66 67 69 69 69 70 70 70 71 71 72 71 72 72 72 97 97 99 99 99 100");
    QCOMPARE(record.events.mid(record.events.size() - 4).join(' '),
             "S:" + doneLine + " C:100 T:100 finished");

    const QString perImage =
        QStringLiteral("eraseFlash(int, u_int32_t, u_int32_t) eraseFlash(int, u_int32_t, "
                       "u_int32_t) writeToFlash(int, QFile&, u_int32_t, u_int32_t, u_int32_t) "
                       "verifyAndRepair(int, QFile&, u_int32_t, u_int32_t, u_int32_t) ");
    QCOMPARE(log.messages().join(' ').remove("int UpdaterThread::"),
             "unlockFlash(int) " + perImage + perImage.trimmed());
    const std::vector<zarnsim::Call> device = flashCalls();
    QCOMPARE(device.front().flags, O_RDWR);
    QCOMPARE(device.at(1).phrase, std::string("heedful!!"));
    QVERIFY(device.back().op == Op::Close);
    QCOMPARE(asked(Op::Ioctl), QList<quint64>({0x40000, 0x40000, 0x80000, 0x80000}));
    // The last transfer is the remainder, made even when nothing remains.
    QCOMPARE(asked(Op::Write), QList<quint64>({1024, 1024, 484, 1024, 0}));
    // Read back per image, then once more, the images' own bytes alone, for the final check.
    QCOMPARE(asked(Op::Read), QList<quint64>({1024, 1024, 484, 1024, 0, 1024, 1024, 452, 992}));
    // A block reaches 32 bytes past its data: the next header, or erased flash past the file's end.
    QCOMPARE(flash(0x40000, 2532), one + updatefile::build({image("DATA", 0x80000, two)}).left(32));
    QCOMPARE(flash(0x80000, 1024), two + QByteArray(32, char(0xFF)));
}

void TestUpdateRun::repairs_data()
{
    QTest::addColumn<bool>("lost");         // else a weak word, which holds only on its third write
    QTest::addColumn<QStringList>("lines"); // from the first read-back on
    QTest::addColumn<QStringList>("trace"); // the verification's debug lines

    const QStringList once = pass(0x100000, 0x30000);
    const QStringList page{"Erasing page at 0x120000", "Writing to Flash memory at 0x120000"};
    const auto trace = [](const char *words, const QStringList &check) {
        return QStringList{dash, "\"Mismatch between buffers at 0x2a004\"",
                           QStringLiteral("\"%1\"").arg(words), "Trying to repair things..."} +
               check +
               QStringList{"**************************************", "\"Erasing page at 0x120000\"",
                           "\"Writing Flash page at 0x20000\"", dash + "\n\n"};
    };
    // The word's own line names its offset in the image.
    QTest::newRow("weak word: the word alone, then its page")
        << false
        << once + QStringList{"Writing to Flash memory at 0x2a004"} + page + once +
               QStringList{finalCheck, doneLine}
        << trace("5a5a5aff != ffffffff", {"\"Check: ffffffff\""});
    QTest::newRow("bits lost: its page at once")
        << true << once + page + once + QStringList{finalCheck, doneLine}
        << trace("12345679 != 12345678", {});
}

// What the read-back finds wrong is mended: the word alone where programming
// can still set it, otherwise its page. The word sits where the operators know
// it from the field: image offset 0x2a004, in the second page of an image at
// 0x100000. The trace carries the verification's own source context.
void TestUpdateRun::repairs()
{
    QFETCH(bool, lost);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, trace);
    QByteArray data = updatefile::pattern(12, 0x30000 - 32);
    data.replace(0x2A004, 4, lost ? QByteArray::fromHex("79563412") : QByteArray("\xff\x5a\x5a\x5a"));
    if (lost)
        zarnsim::addLosingWord(0x12A004, 0x1);
    else // the bulk write never holds on it, nor the word's own
        zarnsim::addWeakWord(0x12A004, 3);

    testsupport::MessageLog log;
    const QStringList all = run(write({image("APP", 0x100000, data)})).lines();
    QCOMPARE(all.mid(all.indexOf(startVerify) + 1), lines);
    QStringList seen;
    for (int i = 0; i < log.messages().size(); ++i)
        if (log.sources().at(i).contains(QRegularExpression("verifyAndRepair.* in .*updaterthread.cpp$")))
            seen << log.messages().at(i);
    QCOMPARE(seen.mid(1), trace); // after the operation's own signature
    QCOMPARE(asked(Op::Ioctl), QList<quint64>({0x100000, 0x120000, 0x100000, 0x120000, 0x120000}));
    QCOMPARE(int(asked(Op::Write).count(4)), lost ? 0 : 1);
    // Past the data, to the end of its page, the rewritten page holds erased flash, as the first write left
    // it.
    QCOMPARE(flash(0x100000, 0x40000), data + QByteArray(0x10000 + 32, char(0xFF)));
}

void TestUpdateRun::deviceResults_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("call");  // counted from 1; 0: every call moves at most error bytes
    QTest::addColumn<int>("error"); // 0: the flash is changed under the run before the final check
    QTest::addColumn<QString>("lastLine");

    const auto row = [](const char *name, Op op, int call, int error, const QString &last) {
        QTest::newRow(name) << int(op) << call << error << last;
    };
    // Two images: APP at 0x40000 (3000 bytes, a word at 0x400 that holds only on its
    // second write), DATA at 0x100000. Seeks: 1 write APP, 2 read back APP, 3 and 4
    // the word repair, 5 write DATA, 6 read back DATA, 7 and 8 the final check.
    const QString io = QStringLiteral(": Input/output error");
    const QString invalid = QStringLiteral(": Invalid argument");
    row("seek fails in the first write", Op::Lseek, 1, EINVAL,
        "Error seeking Flash memory at 0x40000" + invalid);
    row("seek fails in the read-back", Op::Lseek, 2, EIO, "Error seeking Flash memory at 0x40000" + io);
    row("seek fails in a word repair", Op::Lseek, 3, EIO, "Error seeking Flash memory at 0x40400" + io);
    row("seek fails at the second image's write", Op::Lseek, 5, EINVAL,
        "Error seeking Flash memory at 0x100000" + invalid);
    row("seek fails in the final check", Op::Lseek, 8, EIO, "Error seeking Flash memory at 0x100000" + io);
    row("write fails", Op::Write, 2, EIO, "Error writing Flash memory at 0x40400" + io);
    row("read fails", Op::Read, 1, EIO, "Error reading Flash memory at 0x40000" + io);
    row("erase fails in a page repair", Op::Ioctl, 3, EIO, "Error erasing Flash memory at 0x40000" + io);
    row("writes of 512 bytes", Op::Write, 0, 512, doneLine);
    row("reads of 512 bytes", Op::Read, 0, 512, doneLine);
    row("interrupted seek", Op::Lseek, 2, EINTR, doneLine);
    row("interrupted write", Op::Write, 3, EINTR, doneLine);
    row("interrupted read", Op::Read, 2, EINTR, doneLine);
    row("interrupted erase", Op::Ioctl, 1, EINTR, doneLine);
    row("flash changed before the final check", Op::Read, -1, 0,
        "Error verifying image 2 (DATA): Flash memory differs from the update at 0x100010");
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
    const QString path = write({image("APP", 0x40000, app), image("DATA", 0x100000, data)});
    zarnsim::addWeakWord(0x40400, 2);
    if (op == int(Op::Ioctl) && error == EIO)
        zarnsim::addLosingWord(0x40800, 0xFFFFFFFF); // a page repair, whose erase then fails
    if (call > 0)
        zarnsim::failFlashCall(Op(op), unsigned(call), error);
    else if (call == 0)
        zarnsim::setShortTransfers(Op(op), uint32_t(error));

    const RunRecord record = run(path, [&](const QString &line) {
        if (call < 0 && line == finalCheck)
            setFlash(0x100010, QByteArray(1, char(~data.at(0x10))));
    });
    QCOMPARE(record.lines().last(), lastLine);
    QCOMPARE(record.finished(), 1);
    const bool holds = flash(0x40000, 3000) == app && flash(0x100000, 2000) == data;
    if (lastLine == doneLine) {
        QCOMPARE(record.events.mid(record.events.size() - 3), QStringList({"C:100", "T:100", "finished"}));
        QVERIFY(holds);
        // Short transfers are carried on, never taken for damage to repair.
        const std::vector<zarnsim::Call> calls = flashCalls();
        QCOMPARE(std::count_if(calls.begin(), calls.end(),
                               [](const zarnsim::Call &c) {
                                   return c.request == zarnsim::flashIocErasePage && c.result == 0;
                               }),
                 4L);
    } else {
        QVERIFY(!record.lines().contains(doneLine) && !record.of("T:").contains("100"));
        QCOMPARE(holds, QTest::currentDataTag() == QByteArray("seek fails in the final check"));
    }
    if (QTest::currentDataTag() == QByteArray("seek fails at the second image's write"))
        QCOMPARE(flash(0x40000, 3000), app); // the first image, verified, is left alone
    QVERIFY(zarnsim::record().back().op == Op::Close);
}

QTEST_GUILESS_MAIN(TestUpdateRun)
#include "tst_updaterun.moc"
