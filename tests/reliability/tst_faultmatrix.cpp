// Every fault the simulated device can inject and every damaged file, at the
// first, middle and last image and an image's first and last page, run by the
// operator through one window and held to one rule set: after a failure its
// error line, never the done line, never 100 %; 100 % only after success;
// finished() once; each image programmed, left alone or stopped where the
// fault struck, as the flash itself holds it. Nothing piles up run after run.

#include "mainwindow.h"
#include "runkit.h"

#include <array>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace runkit;

// Three images of two pages each, the last page only partly used, the middle
// one off a page boundary; each block (data and the 32 bytes after it) keeps
// clear of the pages its neighbours erase. A device fault sits on a word
// 0x100 into a page, where the file holds 0x5A: bit 1 is a 1 it can take away.
constexpr int dataLength = 0x20400;
constexpr int blockLength = dataLength + 32;
constexpr quint32 addresses[] = {0x100000, 0x140400, 0x200000};
const char *const names[] = {"BOOT", "KERN", "APP"};
constexpr quint32 pageSize = zarnsim::flashPageSize;
// What the flash held before: an older release, so that an untouched image
// tells itself apart from an erased one.
const auto oldContent = [](int j) { return updatefile::pattern(0xD00 + quint32(j), blockLength); };

// Descriptors, threads and resident KiB of this process, as the kernel counts them.
static std::array<qint64, 3> measure()
{
    const auto entries = [](const char *path) {
        return QDir(QLatin1String(path), {}, QDir::NoSort, QDir::AllEntries | QDir::System).count();
    };
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return {entries("/proc/self/fd"), entries("/proc/self/task"),
            text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').value(0).toLongLong()};
}

class TestFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    void init()
    {
        zarnsim::reset();
        row = QString::fromUtf8(QTest::currentDataTag());
        for (int j = 0; j < 3; ++j)
            setFlash(addresses[j], oldContent(j));
    }
    void cleanup() { table << (QTest::currentTestFailed() ? "FAIL " : "ok   ") + row; }
    void cleanupTestCase() { qInfo().noquote() << table.join('\n'); }
    void matrix_data();
    void matrix();
    void nothingPilesUp();

private:
    MainWindow window;
    QTemporaryDir dir;
    QStringList table;
    QString row;
    int runs = 0;
    std::array<qint64, 3> warm{};
};

void TestFaultMatrix::matrix_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("image");      // -1: none
    QTest::addColumn<QString>("device"); // the fault as the simulator reads it from the environment
    QTest::addColumn<QString>("last");   // %1: the file's path
    // Per image: Programmed, Untouched, first page Erased, all but the Stuck bit.
    QTest::addColumn<QString>("states");
    QTest::addColumn<int>("erases"); // of the page struck; -1: not counted

    const auto add = [](const char *fault, int image, const char *where, const QString &device,
                        const QString &last, const QString &states, int erases = -1) {
        QTest::addRow("%s: %s%s", fault, image < 0 ? "-" : qPrintable(QString("image %1").arg(image + 1)),
                      where)
            << fault << image << device << last << states << erases;
    };
    const QString error = QStringLiteral("Error in %1: ");
    add("none", -1, "", "", doneLine, "PPP");
    add("missing node", -1, "", "ZARNSIM_MISSING=flash", "Error opening /dev/zarn_flash", "UUU");
    add("no permission", -1, "", "ZARNSIM_FLASH_ERROR=EACCES",
        "Error opening /dev/zarn_flash: Permission denied: the user must be a member of the group zarn and "
        "log in "
        "again",
        "UUU");
    add("refused unlock", -1, "", "ZARNSIM_UNLOCK_REFUSED=1", "Error erasing page at 0x100000", "UUU");
    add("unreadable file", -1, "", "", "Error opening %1", "UUU");
    add("empty file", -1, "", "", error + "no image found", "UUU");
    for (int image = 0; image < 3; ++image) {
        const QString before = QString(image, 'P');
        const QString after = QString(2 - image, 'U');
        const QString label = QStringLiteral("image %1 (%2)").arg(image + 1).arg(names[image]);
        for (int page : {0, 1}) {
            const char *where = page ? ", last page" : ", first page";
            const QString struck = "0x" + QString::number(addresses[image] + quint32(page) * pageSize, 16);
            const QString word =
                "0x" + QString::number(addresses[image] + quint32(page) * pageSize + 0x100, 16);
            add("erase failure", image, where, "ZARNSIM_ERASE_FAIL_AT=" + struck,
                "Error erasing page at " + struck, before + (page ? 'E' : 'U') + after);
            add("stuck bits", image, where, "ZARNSIM_STUCK_BITS=" + word + ":0x02",
                "Error verifying Flash memory at " + word, before + 'S' + after, 5);
            // Mended by the word alone, and by one page rewrite.
            add("weak word", image, where, "ZARNSIM_WEAK_WORDS=" + word + ":2", doneLine, "PPP", 2);
            add("bits lost", image, where, "ZARNSIM_LOSING_WORDS=" + word + ":0x02", doneLine, "PPP", 3);
        }
        add("truncated", image, "", "",
            error + (image ? "image header cut short at 0x" + QString::number(image * blockLength, 16)
                           : "no image found"),
            "UUU");
        add("oversized", image, "", "", error + label + " is larger than 32 MiB, size 0x2000040", "UUU");
        add("wrapping", image, "", "",
            error + label + " at 0xfffff000 runs past the last flash address 0xffffffff", "UUU");
    }
}

void TestFaultMatrix::matrix()
{
    QFETCH(QString, fault);
    QFETCH(int, image);
    QFETCH(QString, device);
    QFETCH(QString, last);
    QFETCH(QString, states);
    QFETCH(int, erases);
    if (++runs == 17)
        warm = measure(); // after every kind of row once: Qt loads and caches lazily
    QList<updatefile::Image> images;
    for (int j = 0; j < 3; ++j) {
        QByteArray data = updatefile::pattern(quint32(j + 1), dataLength);
        for (quint32 start : {0u, pageSize})
            data.replace(int(start + 0x100), 4, QByteArray(4, 0x5A));
        images << runkit::image(names[j], fault == "wrapping" && j == image ? 0xFFFFF000 : addresses[j],
                                data);
    }
    QByteArray bytes = fault == "empty file" ? QByteArray() : updatefile::build(images);
    if (fault == "truncated") // cut inside the image's header
        bytes = bytes.left(image * blockLength + 20);
    // Sparse: the oversized image's block grows by a hole up to the next header, or to the end.
    const bool oversized = fault == "oversized";
    const int split = oversized ? std::min(int(bytes.size()), (image + 1) * blockLength) : int(bytes.size());
    const qint64 hole = oversized ? image * qint64(blockLength) + 0x2000040 - split : 0;
    if (oversized && image < 2)
        bytes.replace(image * blockLength + 28, 4, QByteArray::fromHex("40000002")); // its next header
    const QString path = dir.filePath(QStringLiteral("matrix.zarnru"));
    QFile::remove(path);
    QFile out(path);
    QVERIFY(fault == "unreadable file" ||
            (out.open(QIODevice::WriteOnly) && out.write(bytes.left(split)) == split &&
             out.resize(split + hole) && out.seek(split + hole) &&
             out.write(bytes.mid(split)) == bytes.size() - split));
    out.close();
    if (!device.isEmpty()) { // read as the simulator in a program started with it reads it
        const QByteArray variable = device.section('=', 0, 0).toLatin1();
        qputenv(variable.constData(), device.section('=', 1).toLatin1());
        QVERIFY(zarnsim::configureFromEnvironment().empty());
        qunsetenv(variable.constData());
    }

    const quint32 word = device.section('=', 1).section(':', 0, 0).toUInt(nullptr, 16);
    // A damaged file is refused before the confirmation, with the run's own line.
    if (last.contains("%1")) {
        child<QLineEdit>(window, "filenameLineEdit")->setText(path);
        testsupport::ModalWatcher modals(testsupport::acceptModal);
        QTest::mouseClick(updateButton(window), Qt::LeftButton);
        row += QString(40 - row.size(), ' ') + "refused: " + QString(last).replace("%1", "<file>");
        QCOMPARE(modals.seen.size(), 1);
        QCOMPARE(modals.seen.first().section('|', 0, 2), "QMessageBox|Update file refused|" + last.arg(path));
        QVERIFY(updateButton(window)->isEnabled());
        QVERIFY(flashCalls().empty());
    } else {
        testsupport::MessageLog log;
        RunWatcher watcher;
        QSignalSpy totalShown(child<QProgressBar>(window, "totalProgressBar"), &QProgressBar::valueChanged);
        QVERIFY(startRun(window, path));
        QVERIFY2(waitForRun(window, watcher), "the run did not end");
        const RunRecord run = watcher.run();
        const QStringList lines = run.lines();
        row += QString(40 - row.size(), ' ') + QString(lines.value(lines.size() - 1)).replace(path, "<file>");
        QCOMPARE(lines.value(lines.size() - 1), last.contains("%1") ? last.arg(path) : last);
        QCOMPARE(lines.first(), initLine);
        QCOMPARE(run.finished(), 1);
        QCOMPARE(log.count(QStringLiteral("void MainWindow::updateFinished()")), 1);
        QCOMPARE(child<QLabel>(window, "statusLabel")->text(), lines.last());
        QCOMPARE(child<QLabel>(window, "timeRemain")->text(), QStringLiteral("00:00:00"));
        const int current = child<QProgressBar>(window, "currentProgressBar")->value();
        const int total = child<QProgressBar>(window, "totalProgressBar")->value();
        if (last == doneLine) {
            QVERIFY2(!lines.join('\n').contains("Error") && lines.count(doneLine) == 1,
                     qPrintable(lines.join('\n')));
            QVERIFY2(run.of("T:").last() == "100" && run.of("C:").last() == "100" && total == 100 &&
                         current == 100,
                     "no 100 % after success");
        } else {
            QVERIFY2(!lines.contains(doneLine) && !run.of("T:").contains("100"),
                     "done, or 100 %, after a failure");
            for (const QList<QVariant> &shown : qAsConst(totalShown))
                QVERIFY2(shown.at(0).toInt() < 100, "the window showed 100 % during a failed run");
            QVERIFY2(total < 100 && current < 100, "the window shows 100 % after a failed run");
        }
        if (erases >= 0)
            QCOMPARE(int(asked(zarnsim::Op::Ioctl).count(word - 0x100)), erases);
        QVERIFY(fault != "refused unlock" || lines.contains("Error unlocking Flash memory."));
        // Refused whole: the device never opened.
        if (fault == "missing node" || fault == "no permission") {
            QCOMPARE(lines.size(), 2);
            QCOMPARE(int(flashCalls().size()), 1);
        }
    }
    int opened = 0;
    for (const zarnsim::Call &call : flashCalls())
        opened += (call.op == zarnsim::Op::Open && call.result >= 0) - (call.op == zarnsim::Op::Close);
    QCOMPARE(opened, 0); // every open closed
    for (int j = 0; j < 3; ++j) {
        QByteArray flashed = flash(addresses[j], blockLength);
        QByteArray expected = bytes.mid(j * blockLength + 32, blockLength); // then erased flash
        expected += QByteArray(blockLength - expected.size(), char(0xFF));
        if (states.at(j) == 'S') { // everything but the stuck bit
            flashed.truncate(dataLength);
            expected.truncate(dataLength);
            expected[int(word - addresses[j])] = char(expected.at(int(word - addresses[j])) & ~0x02);
        } else if (states.at(j) == 'E') { // the first page erased, the failing one untouched
            expected = QByteArray(pageSize, char(0xFF)) + oldContent(j).mid(pageSize);
        } else if (states.at(j) == 'U') {
            expected = oldContent(j);
        }
        QVERIFY2(flashed == expected, names[j]);
    }
}

// The run's threads and descriptors go with it, and memory settles.
void TestFaultMatrix::nothingPilesUp()
{
    if (runs < 30)
        QSKIP("the whole matrix was not run");
    // The last run's system thread, and the descriptor its event loop held, may still be on their way out.
    testsupport::waitFor([&] { return measure()[1] <= warm[1]; });
    QTest::qWait(100);
    const std::array<qint64, 3> now = measure();
    row = QString::asprintf(
        "after %d runs: descriptors %lld -> %lld, threads %lld -> %lld, resident %lld -> %lld KiB", runs,
        warm[0], now[0], warm[1], now[1], warm[2], now[2]);
    // Fewer is no fault: Qt's pool threads expire when idle.
    QVERIFY2(now[0] <= warm[0] && now[1] <= warm[1], qPrintable(row));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // A sanitizer's own bookkeeping grows with every allocation; its leak check speaks for memory there.
    QVERIFY2(now[2] - warm[2] <= 4096, qPrintable(row));
#endif
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
