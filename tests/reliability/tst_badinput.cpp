// Names an operator can type or pick that are not a plain update file: blanks,
// characters outside ASCII, very long paths, a directory, a device, a FIFO
// that nobody writes to. The window must stay responsive, never crash, and
// give each a clear outcome: a warning, an error line, or a finished update.

#include "reliabilitykit.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace reliability;

namespace {

enum Outcome { InvalidNameWarning, UpdateDone, ErrorLine };

enum Input {
    BlanksInName,
    TrailingBlank,
    NonAsciiName,
    Path4000,
    ComponentTooLong,
    PathTooLong,
    Directory,
    DevZeroTyped,
    DevZeroLinked,
    FifoNoWriter,
    EmptyName,
};

constexpr int longPathLength = 4000;
constexpr int tooLongPathLength = 5000;
constexpr int directoryNameLength = 200;
constexpr int componentTooLongLength = 300;
constexpr quint32 imageAddress = 0x40000;

// A GUI thread that has not run its event loop for this long is taken as hung.
constexpr qint64 guiStallLimitMs = 1500;
// A run still under way this long after Update was pressed is taken as blocked.
constexpr qint64 runBlockedAfterMs = 5000;
constexpr int heartbeatMs = 10;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Watches the GUI thread's heartbeat from a thread of its own. When a FIFO is
// named and someone sits blocked in open() on it (the GUI thread, stalled, or
// a run that does not end), it opens the FIFO for writing and closes it again,
// which lets that open() return and the reader see end of file: the test ends
// either way, and says what was blocked.
class Watchdog
{
public:
    explicit Watchdog(const QString &fifo) : fifoPath(QFile::encodeName(fifo))
    {
        lastBeat = nowMs();
        started = lastBeat.load();
        QObject::connect(&heartbeat, &QTimer::timeout, [this] { lastBeat = nowMs(); });
        heartbeat.start(heartbeatMs);
        watcher = std::thread([this] { watch(); });
    }
    ~Watchdog()
    {
        stopping = true;
        watcher.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    std::atomic<qint64> longestStallMs{0};
    std::atomic<int> guiRescues{0}; // the GUI thread was stalled, and a writer freed it
    std::atomic<int> runRescues{0}; // the GUI thread was fine, yet something waited for a writer

private:
    void watch()
    {
        while (!stopping) {
            std::this_thread::sleep_for(std::chrono::milliseconds(heartbeatMs));
            const qint64 now = nowMs();
            const qint64 stall = now - lastBeat;
            if (stall > longestStallMs)
                longestStallMs = stall;
            const bool guiStalled = stall > guiStallLimitMs;
            if (fifoPath.isEmpty() || (!guiStalled && now - started < runBlockedAfterMs))
                continue;
            // Succeeds only while a reader has the FIFO open, or sits in open() for it.
            const int fd = ::open(fifoPath.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                continue;
            ::close(fd);
            ++(guiStalled ? guiRescues : runRescues);
        }
    }

    const QByteArray fifoPath;
    QTimer heartbeat;
    std::atomic<qint64> lastBeat{0};
    std::atomic<qint64> started{0};
    std::atomic<bool> stopping{false};
    std::thread watcher;
};

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void badInput_data();
    void badInput();

private:
    QString makeInput(Input input);

    QTemporaryDir dir;
    QByteArray imageData;
    QList<updatefile::Image> images;
};

void TestBadInput::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(dir.isValid());
    imageData = updatefile::pattern(7, 5000);
    images = {image("APP", imageAddress, imageData)};
}

void TestBadInput::init()
{
    zarnsim::reset();
}

void TestBadInput::badInput_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("outcome");

    QTest::newRow("blanks in the name") << int(BlanksInName) << int(UpdateDone);
    QTest::newRow("blank after the extension") << int(TrailingBlank) << int(InvalidNameWarning);
    QTest::newRow("characters outside ASCII") << int(NonAsciiName) << int(UpdateDone);
    QTest::newRow("path of 4000 characters") << int(Path4000) << int(UpdateDone);
    QTest::newRow("name longer than the file system allows") << int(ComponentTooLong) << int(ErrorLine);
    QTest::newRow("path longer than the system allows") << int(PathTooLong) << int(ErrorLine);
    QTest::newRow("directory named like an update file") << int(Directory) << int(ErrorLine);
    QTest::newRow("/dev/zero typed") << int(DevZeroTyped) << int(InvalidNameWarning);
    QTest::newRow("link to /dev/zero named like an update file") << int(DevZeroLinked) << int(ErrorLine);
    QTest::newRow("FIFO with no writer") << int(FifoNoWriter) << int(ErrorLine);
    QTest::newRow("empty name") << int(EmptyName) << int(InvalidNameWarning);
}

QString TestBadInput::makeInput(Input input)
{
    const QString base = dir.path();
    QString path;
    switch (input) {
    case BlanksInName:
        path = base + QStringLiteral("/my  update file .zarnru");
        break;
    case TrailingBlank:
        return base + QStringLiteral("/update.zarnru ");
    case NonAsciiName:
        path = base + QStringLiteral("/Pr\u00FCfung \u2013 \u66F4\u65B0 \u2713.zarnru");
        break;
    case Path4000: {
        QString directory = base;
        const QString fileTail = QStringLiteral(".zarnru");
        while (directory.size() + 1 + directoryNameLength + 1 + 40 < longPathLength)
            directory += QLatin1Char('/') + QString(directoryNameLength, QLatin1Char('d'));
        if (!QDir().mkpath(directory))
            return QString();
        const int nameLength = longPathLength - directory.size() - 1 - fileTail.size();
        path = directory + QLatin1Char('/') + QString(nameLength, QLatin1Char('n')) + fileTail;
        break;
    }
    case ComponentTooLong:
        return base + QLatin1Char('/') + QString(componentTooLongLength, QLatin1Char('c')) +
               QStringLiteral(".zarnru");
    case PathTooLong: {
        QString tooLong = base;
        while (tooLong.size() < tooLongPathLength)
            tooLong += QLatin1Char('/') + QString(directoryNameLength, QLatin1Char('p'));
        return tooLong + QStringLiteral("/update.zarnru");
    }
    case Directory:
        path = base + QStringLiteral("/folder.zarnru");
        return QDir().mkpath(path) ? path : QString();
    case DevZeroTyped:
        return QStringLiteral("/dev/zero");
    case DevZeroLinked:
        path = base + QStringLiteral("/zero.zarnru");
        return QFile::link(QStringLiteral("/dev/zero"), path) ? path : QString();
    case FifoNoWriter:
        path = base + QStringLiteral("/pipe.zarnru");
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
    case EmptyName:
        return QString();
    }
    return updatefile::writeFile(path, images) ? path : QString();
}

void TestBadInput::badInput()
{
    QFETCH(int, input);
    QFETCH(int, outcome);
    const QString path = makeInput(Input(input));
    QVERIFY(input == EmptyName || !path.isEmpty());

    RunWatcher watcher;
    WindowUnderTest ui;
    QVERIFY(ui.exposed);
    {
        Watchdog watchdog(input == FifoNoWriter ? path : QString());
        const auto seen = ui.pressUpdate(path);
        QVERIFY(seen->seen);
        if (outcome == InvalidNameWarning) {
            QCOMPARE(seen->className, QStringLiteral("QMessageBox"));
            QCOMPARE(seen->title, QStringLiteral("Invalid filename"));
            QVERIFY(testsupport::waitFor([&] { return QApplication::activeModalWidget() == nullptr; }));
            QCOMPARE(watcher.runCount(), 0);
            QVERIFY(ui.updateButton()->isEnabled());
        } else {
            QCOMPARE(seen->className, QStringLiteral("ImageInfoDialog"));
            QVERIFY2(ui.waitForRun(watcher, 0), "the run did not end");
        }
        QStringList blocked;
        if (watchdog.guiRescues > 0)
            blocked << QStringLiteral(
                "the GUI thread blocked opening the file until a writer appeared: a FIFO with "
                "no writer holds QFile::open in UpdaterThread::getHeaderInfo, called from "
                "ImageInfoDialog::showEvent");
        if (watchdog.runRescues > 0)
            blocked << QStringLiteral("the run blocked opening the file on the worker thread until a writer "
                                      "appeared: it would never end, and the window could not be closed");
        if (watchdog.longestStallMs >= guiStallLimitMs)
            blocked << QStringLiteral("the GUI thread stalled for %1 ms").arg(watchdog.longestStallMs);
        QVERIFY2(blocked.isEmpty(), qPrintable(blocked.join(QStringLiteral("; "))));
    }
    if (outcome == InvalidNameWarning)
        return;

    QCOMPARE(watcher.runCount(), 1);
    const RunRecord run = watcher.run(0);
    QCOMPARE(run.finished, 1);
    QVERIFY(!run.status.isEmpty());
    QCOMPARE(ui.statusText(), run.status.last());
    if (outcome == UpdateDone) {
        QCOMPARE(run.status.last(), doneLine);
        QCOMPARE(flash(imageAddress, quint32(imageData.size())), imageData);
        QCOMPARE(ui.totalBar()->value(), 100);
    } else {
        QVERIFY2(run.status.last().startsWith(QLatin1String("Error")), qPrintable(run.status.last()));
        QVERIFY2(run.status.last().contains(path), qPrintable(run.status.last()));
        QVERIFY(!run.status.contains(doneLine));
        QVERIFY(ui.totalBar()->value() < 100);
        for (const zarnsim::Call &call : flashCalls())
            QVERIFY2(call.op != zarnsim::Op::Write && call.op != zarnsim::Op::Ioctl, "the flash was touched");
    }
    QVERIFY2(ui.window.close(), "the window refuses to close after the run");
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
