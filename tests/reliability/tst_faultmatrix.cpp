// Every fault the simulated device can inject and every damaged file, struck
// at the first, middle and last image and at an image's first and last page,
// through the window as the operator runs an update. The outcome of each is
// held to one rule set: an error line and never the done line after a
// failure, 100 % only after success, finished() exactly once, images before
// the fault programmed and images after it untouched.

#include "reliabilitykit.h"

#include <cerrno>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>

using namespace reliability;

namespace {

enum Fault {
    NoFault,
    MissingNode,
    RefusedUnlock,
    EraseFailure,
    StuckBits,
    WeakWord,
    LosingWord,
    UnreadableFile,
    EmptyFile,
    TruncatedFile,
    OversizedImage,
    WrappingImage,
};

const char *const faultNames[] = {"none",       "missing node", "refused unlock", "erase failure",
                                  "stuck bits", "weak word",    "bits lost",      "unreadable file",
                                  "empty file", "truncated",    "oversized",      "wrapping"};

enum Page { AnyPage = -1, FirstPage, LastPage };
constexpr int noImage = -1;

// Three images of two pages each, the last page only partly used; the middle
// one off a page boundary. Each block's flash range (data and the 32 bytes
// after it) keeps clear of the pages its neighbours erase.
constexpr int imageCount = 3;
constexpr int dataLength = 0x20400;
constexpr int headerSize = 32;
constexpr quint32 blockLength = dataLength + headerSize;
constexpr quint32 addresses[imageCount] = {0x100000, 0x140400, 0x200000};
const char *const names[imageCount] = {"BOOT", "KERN", "APP"};
constexpr quint32 pageStart[2] = {0, zarnsim::flashPageSize};
// The word a device fault sits on, inside the page.
constexpr quint32 faultWordInPage = 0x100;
// Its bytes in the file: bit 1 of each is a 1 that a stuck or lost bit takes away.
constexpr char faultWordByte = 0x5A;
constexpr quint8 faultBit = 0x02;
constexpr int weakWordAttempts = 2;

// An image too large for the engine, and an address from which a block runs past 0xffffffff.
constexpr quint32 oversizedLength = 0x2000040;
constexpr quint32 wrappingAddress = 0xFFFFF000;
constexpr int cutInsideHeader = 20;

bool succeeds(Fault fault)
{
    return fault == NoFault || fault == WeakWord || fault == LosingWord;
}

bool isFileFault(Fault fault)
{
    return fault >= UnreadableFile;
}

QString hex(quint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

// The flash page a device fault strikes; file faults strike no page.
quint32 faultPage(int image, int page)
{
    return image == noImage || page == AnyPage ? 0 : addresses[image] + pageStart[page];
}

quint32 blockOffset(int index)
{
    return quint32(index) * blockLength;
}

// What the flash held before the update: an older release, so that an
// untouched image tells itself apart from an erased one.
QByteArray oldContent(int index)
{
    return updatefile::pattern(0xD00 + quint32(index), int(blockLength));
}

bool overlaps(quint64 start, quint64 length, int index)
{
    return start < quint64(addresses[index]) + blockLength && addresses[index] < start + length;
}

// Successful device calls that program, or with erases also erase, inside the block of image index.
int callsInto(int index, bool erases)
{
    int count = 0;
    for (const zarnsim::Call &call : flashCalls()) {
        if (call.result < 0)
            continue;
        if (call.op == zarnsim::Op::Write && overlaps(call.address, call.size, index))
            ++count;
        if (erases && call.op == zarnsim::Op::Ioctl && call.request == zarnsim::flashIocErasePage &&
            overlaps(call.argument, zarnsim::flashPageSize, index))
            ++count;
    }
    return count;
}

// What a run leaves in the block of image j.
enum ImageState { Programmed, Untouched, FirstPageErased, Attempted };

ImageState expectedState(Fault fault, int image, int page, int j)
{
    if (succeeds(fault))
        return Programmed;
    if (fault != EraseFailure && fault != StuckBits)
        return Untouched; // refused before the first erase
    if (j != image)
        return j < image ? Programmed : Untouched;
    if (fault == StuckBits)
        return Attempted;
    return page == FirstPage ? Untouched : FirstPageErased;
}

int erasesAt(quint32 address)
{
    int count = 0;
    for (const zarnsim::Call &call : flashCalls())
        if (call.op == zarnsim::Op::Ioctl && call.request == zarnsim::flashIocErasePage &&
            call.argument == address)
            ++count;
    return count;
}

bool wordWrittenAlone(quint32 address)
{
    for (const zarnsim::Call &call : flashCalls())
        if (call.op == zarnsim::Op::Write && call.address == address && call.size == 4 && call.result == 4)
            return true;
    return false;
}

struct MatrixRow
{
    QString fault;
    QString where;
    QString expected;
    QString seen;
    bool passed = false;
};

} // namespace

class TestFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void matrix_data();
    void matrix();

private:
    QString writeFile(Fault fault, int image, const QList<updatefile::Image> &images);
    void injectDeviceFault(Fault fault, int image, int page);
    void checkFlash(Fault fault, int image, int page, const QByteArray &fileBytes);

    QTemporaryDir dir;
    QList<MatrixRow> table;
    MatrixRow current;
};

void TestFaultMatrix::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(dir.isValid());
}

void TestFaultMatrix::init()
{
    zarnsim::reset();
    current = MatrixRow();
}

void TestFaultMatrix::cleanup()
{
    current.passed = !QTest::currentTestFailed();
    table << current;
}

void TestFaultMatrix::cleanupTestCase()
{
    const int widths[] = {16, 20, 9, 100};
    auto cell = [](const QString &text, int width) {
        return text.leftJustified(width, QLatin1Char(' '), true);
    };
    qInfo().noquote() << cell(QStringLiteral("fault"), widths[0]) +
                             cell(QStringLiteral("strikes at"), widths[1]) +
                             cell(QStringLiteral("expected"), widths[2]) +
                             cell(QStringLiteral("last status line"), widths[3]) + QStringLiteral("result");
    for (const MatrixRow &row : qAsConst(table))
        qInfo().noquote() << cell(row.fault, widths[0]) + cell(row.where, widths[1]) +
                                 cell(row.expected, widths[2]) + cell(row.seen, widths[3]) +
                                 (row.passed ? QStringLiteral("ok") : QStringLiteral("FAIL"));
    const int passed =
        int(std::count_if(table.begin(), table.end(), [](const MatrixRow &row) { return row.passed; }));
    qInfo().noquote()
        << QStringLiteral("fault matrix: %1 cases, %2 as expected").arg(table.size()).arg(passed);
}

void TestFaultMatrix::matrix_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("image");
    QTest::addColumn<int>("page");

    auto add = [](Fault fault, int image, int page) {
        QString where = image == noImage ? QStringLiteral("-") : QStringLiteral("image %1").arg(image + 1);
        if (page != AnyPage)
            where += page == FirstPage ? QStringLiteral(", first page") : QStringLiteral(", last page");
        QTest::addRow("%s: %s", faultNames[fault], qPrintable(where)) << int(fault) << image << page;
    };

    add(NoFault, noImage, AnyPage);
    add(MissingNode, noImage, AnyPage);
    add(RefusedUnlock, noImage, AnyPage);
    for (Fault fault : {EraseFailure, StuckBits, WeakWord, LosingWord})
        for (int image = 0; image < imageCount; ++image)
            for (Page page : {FirstPage, LastPage})
                add(fault, image, page);
    add(UnreadableFile, noImage, AnyPage);
    add(EmptyFile, noImage, AnyPage);
    for (Fault fault : {TruncatedFile, OversizedImage, WrappingImage})
        for (int image = 0; image < imageCount; ++image)
            add(fault, image, AnyPage);
}

QString TestFaultMatrix::writeFile(Fault fault, int image, const QList<updatefile::Image> &images)
{
    const QString path = dir.filePath(QStringLiteral("matrix.zarnru"));
    QFile::remove(path);
    if (fault == UnreadableFile)
        return path;

    QList<updatefile::Image> listed = images;
    if (fault == WrappingImage)
        listed[image].address = wrappingAddress;
    QByteArray bytes = updatefile::build(listed);
    if (fault == EmptyFile)
        bytes.clear();
    if (fault == TruncatedFile)
        bytes = bytes.left(int(blockOffset(image)) + cutInsideHeader);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    if (fault != OversizedImage)
        return file.write(bytes) == bytes.size() ? path : QString();

    // Sparse: the gap that makes the image too large is a hole in the file.
    const quint32 headerAt = blockOffset(image);
    if (image < imageCount - 1) {
        qToLittleEndian(oversizedLength, bytes.data() + headerAt + 28);
        const int nextAt = int(blockOffset(image + 1));
        const bool ok = file.write(bytes.left(nextAt)) == nextAt && file.seek(headerAt + oversizedLength) &&
                        file.write(bytes.mid(nextAt)) == bytes.size() - nextAt;
        return ok ? path : QString();
    }
    const bool ok = file.write(bytes) == bytes.size() && file.resize(headerAt + oversizedLength);
    return ok ? path : QString();
}

void TestFaultMatrix::injectDeviceFault(Fault fault, int image, int page)
{
    const quint32 word = faultPage(image, page) + faultWordInPage;
    switch (fault) {
    case MissingNode:
        zarnsim::setNodeError(zarnsim::Node::Flash, ENOENT);
        break;
    case RefusedUnlock:
        zarnsim::setUnlockRefused(true);
        break;
    case EraseFailure:
        zarnsim::failEraseAt(faultPage(image, page));
        break;
    case StuckBits:
        zarnsim::addStuckBits(word, faultBit);
        break;
    case WeakWord:
        zarnsim::addWeakWord(word, weakWordAttempts);
        break;
    case LosingWord:
        zarnsim::addLosingWord(word, faultBit);
        break;
    default:
        break;
    }
}

void TestFaultMatrix::checkFlash(Fault fault, int image, int page, const QByteArray &fileBytes)
{
    for (int j = 0; j < imageCount; ++j) {
        const QByteArray name(names[j]);
        switch (expectedState(fault, image, page, j)) {
        case Programmed: {
            // The block as the file has it; past the end of the file, erased flash.
            QByteArray expected = fileBytes.mid(int(blockOffset(j)) + headerSize, int(blockLength));
            expected.append(QByteArray(int(blockLength) - expected.size(), char(0xFF)));
            QVERIFY2(flash(addresses[j], blockLength) == expected, name.constData());
            break;
        }
        case Untouched:
            QVERIFY2(flash(addresses[j], blockLength) == oldContent(j), name.constData());
            QVERIFY2(callsInto(j, true) == 0, name.constData());
            break;
        case FirstPageErased:
            QVERIFY2(flash(addresses[j], zarnsim::flashPageSize) ==
                         QByteArray(zarnsim::flashPageSize, char(0xFF)),
                     name.constData());
            QVERIFY2(flash(addresses[j] + zarnsim::flashPageSize, blockLength - zarnsim::flashPageSize) ==
                         oldContent(j).mid(zarnsim::flashPageSize),
                     name.constData());
            QVERIFY2(callsInto(j, false) == 0, name.constData());
            break;
        case Attempted:
            break;
        }
    }

    const quint32 page0 = faultPage(image, page);
    const quint32 word = page0 + faultWordInPage;
    switch (fault) {
    case StuckBits: {
        // Everything of the image but the stuck bit is programmed, and the repairs were bounded.
        QByteArray expected = fileBytes.mid(int(blockOffset(image)) + headerSize, dataLength);
        const int at = int(word - addresses[image]);
        expected[at] = char(expected.at(at) & ~faultBit);
        QCOMPARE(flash(addresses[image], dataLength), expected);
        QVERIFY(erasesAt(page0) > 2);
        QVERIFY(erasesAt(page0) <= 2 + 8);
        break;
    }
    case WeakWord:
        QVERIFY2(wordWrittenAlone(word), "no single-word repair");
        QCOMPARE(erasesAt(page0), 2);
        break;
    case LosingWord:
        QCOMPARE(erasesAt(page0), 3); // two passes and one page repair
        break;
    case RefusedUnlock:
        for (const zarnsim::Call &call : flashCalls())
            QVERIFY(call.op != zarnsim::Op::Write || call.result < 0);
        break;
    case MissingNode: {
        const std::vector<zarnsim::Call> calls = flashCalls();
        QCOMPARE(int(calls.size()), 1);
        QVERIFY(calls.front().op == zarnsim::Op::Open && calls.front().result < 0);
        break;
    }
    default:
        if (isFileFault(fault))
            QVERIFY2(flashCalls().empty(), "a damaged file reached the device");
        break;
    }

    int opened = 0;
    int closed = 0;
    for (const zarnsim::Call &call : flashCalls()) {
        opened += call.op == zarnsim::Op::Open && call.result >= 0;
        closed += call.op == zarnsim::Op::Close;
    }
    QCOMPARE(closed, opened);
}

void TestFaultMatrix::matrix()
{
    QFETCH(int, fault);
    QFETCH(int, image);
    QFETCH(int, page);
    const Fault kind = Fault(fault);
    current.fault = QLatin1String(faultNames[fault]);
    current.where = QString::fromUtf8(QTest::currentDataTag()).section(QStringLiteral(": "), 1);
    current.expected = succeeds(kind) ? QStringLiteral("success") : QStringLiteral("error");

    QList<updatefile::Image> images;
    for (int j = 0; j < imageCount; ++j) {
        QByteArray data = updatefile::pattern(quint32(j + 1), dataLength);
        for (quint32 start : pageStart)
            data.replace(int(start + faultWordInPage), 4, QByteArray(4, faultWordByte));
        images << reliability::image(names[j], addresses[j], data);
        setFlash(addresses[j], oldContent(j));
    }
    const QString path = writeFile(kind, image, images);
    QVERIFY(!path.isEmpty());
    QFile written(path);
    const QByteArray fileBytes =
        written.open(QIODevice::ReadOnly) ? written.read(2 * blockLength * imageCount) : QByteArray();
    injectDeviceFault(kind, image, page);

    testsupport::MessageLog log;
    RunWatcher watcher;
    WindowUnderTest ui;
    QVERIFY(ui.exposed);
    QSignalSpy totalShown(ui.totalBar(), &QProgressBar::valueChanged);
    const auto seen = ui.pressUpdate(path);
    QVERIFY(seen->seen);
    QCOMPARE(seen->className, QStringLiteral("ImageInfoDialog"));
    QVERIFY2(ui.waitForRun(watcher, 0), "the run did not end");
    QCOMPARE(watcher.runCount(), 1);
    const RunRecord run = watcher.run(0);
    current.seen = run.status.value(run.status.size() - 1).replace(path, QStringLiteral("<file>"));

    QCOMPARE(run.finished, 1);
    QCOMPARE(log.count(QStringLiteral("void MainWindow::updateFinished()")), 1);
    QVERIFY(!run.status.isEmpty());
    QCOMPARE(run.status.first(), initLine);
    const QString last = run.status.last();
    QCOMPARE(ui.statusText(), last);
    QCOMPARE(ui.timeRemaining(), QStringLiteral("00:00:00"));
    QVERIFY(ui.updateButton()->isEnabled());

    if (succeeds(kind)) {
        QCOMPARE(last, doneLine);
        QCOMPARE(run.status.count(doneLine), 1);
        for (const QString &line : run.status)
            QVERIFY2(!line.startsWith(QLatin1String("Error")), qPrintable(line));
        QCOMPARE(run.total.last(), 100);
        QCOMPARE(run.current.last(), 100);
        QCOMPARE(ui.totalBar()->value(), 100);
        QCOMPARE(ui.currentBar()->value(), 100);
    } else {
        QVERIFY2(!run.status.contains(doneLine), "done line after a failure");
        QVERIFY2(!run.total.contains(100), "100 % reported after a failure");
        for (const QList<QVariant> &shown : qAsConst(totalShown))
            QVERIFY2(shown.at(0).toInt() < 100, "the window showed 100 % during a failed run");
        QVERIFY2(ui.totalBar()->value() < 100, "the window shows 100 % after a failed run");
        QVERIFY2(ui.currentBar()->value() < 100, "the window shows 100 % after a failed run");
        QVERIFY2(last.startsWith(QLatin1String("Error")), qPrintable(last));

        const quint32 page0 = faultPage(image, page);
        switch (kind) {
        case MissingNode:
            QCOMPARE(run.status, QStringList({initLine, QStringLiteral("Error opening /dev/zarn_flash")}));
            break;
        case RefusedUnlock:
            QVERIFY(run.status.contains(QStringLiteral("Error unlocking Flash memory.")));
            QCOMPARE(last, QStringLiteral("Error erasing page at ") + hex(addresses[0]));
            break;
        case EraseFailure:
            QCOMPARE(last, QStringLiteral("Error erasing page at ") + hex(page0));
            break;
        case StuckBits:
            QCOMPARE(last, QStringLiteral("Error verifying Flash memory at ") + hex(page0 + faultWordInPage));
            break;
        default:
            // A damaged file is refused whole, naming the file and the image, before anything else.
            QCOMPARE(run.status.size(), 2);
            QVERIFY2(last.contains(path), qPrintable(last));
            if (kind == OversizedImage || kind == WrappingImage)
                QVERIFY2(last.contains(QStringLiteral("image %1").arg(image + 1)), qPrintable(last));
            if (kind == TruncatedFile && image > 0)
                QVERIFY2(last.contains(hex(blockOffset(image))), qPrintable(last));
            break;
        }
    }
    checkFlash(kind, image, page, fileBytes);
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
