// The engine on the test's thread against the simulated device: the update
// file's headers, the check made before the flash is touched, whole runs.

#include "changedpages.h"
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
    void onlyChanged_data();
    void onlyChanged();
    void asFullUpdate_data();
    void asFullUpdate();

private:
    QString write(const QList<updatefile::Image> &images)
    {
        // Blanks and characters outside ASCII reach the file as they are.
        const QString path =
            dir.filePath(QStringLiteral("my  Pr\u00FCfung \u2013 \u66F4\u65B0 \u2713.zarnru"));
        return updatefile::writeFile(path, images) ? path : QString();
    }
    // A whole update of path; onLine sees each status line as it is sent.
    RunRecord run(const QString &path, std::function<void(const QString &)> onLine = {},
                  std::shared_ptr<changedpages::Counts> changes = {})
    {
        RunWatcher watcher;
        watcher.onStatusLine = std::move(onLine);
        UpdaterThread worker;
        worker.setFilename(path);
        worker.setOnlyChanged(std::move(changes));
        watcher.watch(&worker);
        worker.process();
        return watcher.run();
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

enum Change {
    Same,
    OtherImage,
    OneWord,
    OnlyClears,
    ChangedUnderRun,
    DirtyTail,
    SharedSame,
    SharedBootChanged,
    SharedBootClears,
    AppTaken
};

void TestUpdateRun::onlyChanged_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<QList<uint>>("erased");  // each erased twice
    QTest::addColumn<QList<uint>>("written"); // where the pages' writes start
    QTest::addColumn<QString>("last");

    const QString done = QString::fromLatin1(updateDoneText);
    QTest::newRow("flash already equal") << int(Same) << QList<uint>() << QList<uint>() << done;
    QTest::newRow("one image changed")
        << int(OtherImage) << QList<uint>{0x200000, 0x220000} << QList<uint>{0x200000, 0x220000} << done;
    QTest::newRow("one word changed in a page")
        << int(OneWord) << QList<uint>{0x320000} << QList<uint>{0x320000} << done;
    QTest::newRow("a page that needs only 1 to 0")
        << int(OnlyClears) << QList<uint>() << QList<uint>{0x100000} << done;
    QTest::newRow("flash changed under the run")
        << int(ChangedUnderRun) << QList<uint>() << QList<uint>()
        << "Error verifying image 1 (ONE): Flash memory differs from the update at 0x100010";
    QTest::newRow("a page's erased end written over")
        << int(DirtyTail) << QList<uint>{0x120000} << QList<uint>{0x120000} << done;
    // BOOT's last 32 bytes are APP's first, and BOOT's erase reaches into APP.
    QTest::newRow("two images in one page, re-applied")
        << int(SharedSame) << QList<uint>() << QList<uint>() << done;
    QTest::newRow("two images in one page, the first changed")
        << int(SharedBootChanged) << QList<uint>{0x80000, 0x81000} << QList<uint>{0x80000, 0x81000} << done;
    // Programming alone would reach the flash of the full update, but BOOT's
    // verification would find its last 32 bytes cleared: APP's first, zeros.
    QTest::newRow("two images in one page, the first needs only 1 to 0")
        << int(SharedBootClears) << QList<uint>{0x80000, 0x81000} << QList<uint>{0x80000, 0x81000} << done;
    // CONF takes APP's last 32 bytes: APP, written, is verified whole, so its
    // last page is written too, and with it CONF's.
    QTest::newRow("a later image takes the last bytes of one changed")
        << int(AppTaken) << QList<uint>{0x80000, 0x81000, 0xA1000, 0xB1000}
        << QList<uint>{0x80000, 0x81000, 0xA1000, 0xB1000} << done;
}

// Only the pages that do not hold the update are touched, and the update still
// ends with the flash holding the file, or says it does not.
void TestUpdateRun::onlyChanged()
{
    QFETCH(int, change);
    QFETCH(QList<uint>, erased);
    QFETCH(QList<uint>, written);
    QFETCH(QString, last);
    const bool shared = change >= SharedSame;
    const quint32 addresses[] = {0x100000, 0x200000, 0x300000};
    QList<updatefile::Image> images;
    if (shared)
        images << image("BOOT", 0x80000, updatefile::pattern(8, 0x1000))
               << image("APP", 0x81000, QByteArray(32, '\0') + updatefile::pattern(9, 0x30000 - 32));
    if (change == AppTaken)
        images << image("CONF", 0xB1000, updatefile::pattern(11, 0x1000));
    for (int i = 0; i < 3 && !shared; ++i)
        images << image(i == 0   ? "ONE"
                        : i == 1 ? "TWO"
                                 : "THRE",
                        addresses[i], updatefile::pattern(quint32(i), 0x30000));
    QVERIFY(run(write(images)).lines().endsWith(QString::fromLatin1(updateDoneText)));
    if (change == OtherImage)
        images[1].data = updatefile::pattern(7, 0x30000);
    else if (change == OneWord)
        setFlash(0x320800, QByteArray(4, '\0'));
    else if (change == OnlyClears || change == SharedBootClears)
        setFlash(images[0].address, QByteArray(0x400, char(0xFF)));
    else if (change == DirtyTail)
        setFlash(0x13F000, QByteArray(4, '\0'));
    else if (change == SharedBootChanged)
        images[0].data = updatefile::pattern(10, 0x1000);
    else if (change == AppTaken)
        setFlash(0x81800, QByteArray(4, '\0'));
    const QString path = write(images);
    zarnsim::clearRecord();

    auto counts = std::make_shared<changedpages::Counts>();
    const RunRecord record = run(
        path,
        [&](const QString &line) {
            if (change == ChangedUnderRun && line.startsWith(QLatin1String("Pages to write")))
                setFlash(0x100010, QByteArray(1, char(~images[0].data.at(0x10))));
        },
        counts);
    QCOMPARE(record.lines().last(), last);
    QList<uint> erases;
    QList<uint> pages;
    const std::vector<zarnsim::Call> calls = flashCalls();
    for (size_t n = 0; n < calls.size(); ++n) {
        const zarnsim::Call &call = calls[n];
        if (call.op == zarnsim::Op::Ioctl && call.request == zarnsim::flashIocErasePage &&
            !erases.contains(uint(call.argument)))
            erases << uint(call.argument);
        if (call.op == zarnsim::Op::Lseek && n + 1 < calls.size() && calls[n + 1].op == zarnsim::Op::Write &&
            !pages.contains(call.address))
            pages << call.address;
    }
    QCOMPARE(erases, erased);
    QCOMPARE(pages, written);
    QCOMPARE(asked(zarnsim::Op::Ioctl).size(), 2 * erased.size());
    QCOMPARE(int(counts->rewritten + counts->programmed), written.size());
    QCOMPARE(int(counts->skipped), (shared ? int(images.size()) + 1 : 6) - written.size());
    QCOMPARE(flashHolds(images), last == QString::fromLatin1(updateDoneText));
    // Past its bytes, to the end of its last page, the full update leaves erased flash.
    if (!shared)
        QCOMPARE(flash(0x130020, 0xFFE0), QByteArray(0xFFE0, char(0xFF)));
}

enum Placement { Adjacent, OverTail, Apart, Mixed, AtTheEnd };

// Two to four small images, each placed after the one before it as placement
// says; mixed ones may also come before it, which the check may refuse.
QList<updatefile::Image> layout(std::mt19937 &random, int placement)
{
    const auto pick = [&random](quint64 below) { return quint64(random() % below); };
    const quint64 page = zarnsim::flashPageSize;
    quint64 at = (placement == AtTheEnd ? 0xFFFA0000 : 0x100000) + pick(page);
    QList<updatefile::Image> images;
    for (int count = 2 + int(pick(3)); images.size() < count && at < quint64(1) << 32;) {
        const quint64 lengths[] = {64, 0x2000, 0x24000};
        const quint64 length = pick(lengths[pick(placement == AtTheEnd ? 2 : 3)] + 1);
        images << image("IMG", quint32(at), updatefile::pattern(quint32(random()), int(length)));
        const quint64 dataEnd = at + length;
        const quint64 erasedEnd = at + (length + 32 + page - 1) / page * page;
        switch (placement >= Mixed ? int(pick(4)) : placement) {
        case Adjacent: // over its last 32 bytes, or just past them
            at = dataEnd + 32 * pick(2);
            break;
        case OverTail: // where its erase reaches past its bytes
            at = dataEnd + pick(erasedEnd - dataEnd);
            break;
        case Apart:
            at = erasedEnd + pick(page);
            break;
        default:
            at -= std::min(at, pick(3 * page));
        }
    }
    return images;
}

void TestUpdateRun::asFullUpdate_data()
{
    QTest::addColumn<int>("placement");
    QTest::newRow("adjacent") << int(Adjacent);
    QTest::newRow("within an erase past the bytes") << int(OverTail);
    QTest::newRow("apart, from mid-page") << int(Apart);
    QTest::newRow("mixed") << int(Mixed);
    QTest::newRow("mixed, at the end of the flash") << int(AtTheEnd);
}

// Whatever the layout and whatever the flash held, --only-changed leaves it
// exactly as the full update does.
void TestUpdateRun::asFullUpdate()
{
    QFETCH(int, placement);
    std::mt19937 random(1000u + quint32(placement));
    const auto bytes = [&random](quint64 length) {
        QByteArray result(int(length), Qt::Uninitialized);
        for (char &byte : result)
            byte = char(random());
        return result;
    };
    constexpr int cases = 40;
    int accepted = 0;
    for (int n = 0; n < cases; ++n) {
        QList<updatefile::Image> images = layout(random, placement);
        QBuffer file;
        file.setData(updatefile::build(images));
        file.open(QIODevice::ReadOnly);
        QList<Header> headers;
        const int chain = updatefilereader::readHeaders(file, &headers);
        if (updatefilereader::check(headers, chain, file.size()).fault != updatefilereader::Fault::None)
            continue;
        ++accepted;
        quint64 low = ~quint64(0);
        quint64 high = 0;
        QString layoutText;
        for (const Header &header : headers) {
            const quint64 pages =
                (quint64(header.size) + zarnsim::flashPageSize - 1) / zarnsim::flashPageSize;
            low = std::min<quint64>(low, header.address);
            high =
                std::max(high, std::min(header.address + pages * zarnsim::flashPageSize, quint64(1) << 32));
            layoutText += QString::asprintf(" %x+%x", header.address, header.size);
        }
        const quint32 span = quint32(high - low);

        zarnsim::reset();
        testsupport::MessageLog quiet;
        // Erased, random, or an update there already (this one or one with an
        // image changed) with a few bytes then changed or bits set.
        const int before = int(random() % 4);
        if (before > 0)
            setFlash(quint32(low), bytes(span));
        if (before > 1) {
            QList<updatefile::Image> earlier = images;
            QByteArray &changedImage = earlier[int(random() % uint(earlier.size()))].data;
            if (before == 3)
                changedImage = bytes(quint64(changedImage.size()));
            run(write(earlier));
            for (int k = int(random() % 3); k > 0; --k) {
                const quint32 at = quint32(low + random() % span);
                QByteArray spot = flash(at, 1 + random() % 8);
                const bool setBits = random() % 2 != 0;
                for (char &byte : spot)
                    byte = char(setBits ? byte | char(random()) : char(random()));
                setFlash(at, spot);
            }
        }
        const QByteArray prior = flash(quint32(low), span);
        const QString path = write(images);
        const QString fullLast = run(path).lines().last();
        const QByteArray full = flash(quint32(low), span);
        setFlash(quint32(low), prior);
        const QString changedLast = run(path, {}, std::make_shared<changedpages::Counts>()).lines().last();
        const QByteArray changed = flash(quint32(low), span);
        const quint64 first =
            quint64(std::mismatch(full.begin(), full.end(), changed.begin()).first - full.begin());
        QVERIFY2(
            fullLast == doneLine && changedLast == doneLine && full == changed,
            qPrintable(QString::asprintf("case %d,%s, flash before %d: ", n, qPrintable(layoutText), before) +
                       changedLast + QString::asprintf("; first difference at 0x%llx", low + first)));
    }
    QVERIFY2(accepted >= cases * 3 / 4, qPrintable(QString::number(accepted)));
}

QTEST_GUILESS_MAIN(TestUpdateRun)
#include "tst_updaterun.moc"
