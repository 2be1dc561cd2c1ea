// Updates of the changed pages only, on the test's thread against the
// simulated device: only the pages that do not hold the update are touched,
// and the flash afterwards is always what the full update leaves.

#include "changedpages.h"
#include "runkit.h"
#include "updatefilereader.h"

#include <QBuffer>
#include <QtTest>
#include <random>

using namespace runkit;

class TestChangedPages : public QObject
{
    Q_OBJECT

private slots:
    void init() { zarnsim::reset(); }
    void onlyChanged_data();
    void onlyChanged();
    void asFullUpdate_data();
    void asFullUpdate();

private:
    QString write(const QList<updatefile::Image> &images)
    {
        const QString path = dir.filePath(QStringLiteral("changed.zarnru"));
        return updatefile::writeFile(path, images) ? path : QString();
    }
    // A whole update of path, of its changed pages when changes is given.
    RunRecord run(const QString &path, std::function<void(const QString &)> onLine = {},
                  std::shared_ptr<changedpages::Counts> changes = {})
    {
        UpdaterThread worker;
        worker.setFilename(path);
        worker.setOnlyChanged(std::move(changes));
        return runHere(worker, std::move(onLine));
    }

    QTemporaryDir dir;
};

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

void TestChangedPages::onlyChanged_data()
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
void TestChangedPages::onlyChanged()
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

void TestChangedPages::asFullUpdate_data()
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
void TestChangedPages::asFullUpdate()
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
        QList<ImageHeader> headers;
        const int chain = updatefilereader::readHeaders(file, &headers);
        if (updatefilereader::check(headers, chain, file.size()).fault != updatefilereader::Fault::None)
            continue;
        ++accepted;
        quint64 low = ~quint64(0);
        quint64 high = 0;
        QString layoutText;
        for (const ImageHeader &header : headers) {
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

QTEST_GUILESS_MAIN(TestChangedPages)
#include "tst_changedpages.moc"
