// Back-to-back update runs through the window in one process, alternating
// success with injected failures: every run must end with finished() once,
// and the process must hold no more descriptors, threads or memory after the
// runs than before them.

#include "reliabilitykit.h"

#include <atomic>
#include <cerrno>
#include <QTemporaryDir>

using namespace reliability;

namespace {

constexpr int warmUpRuns = 10; // Qt loads and caches lazily during the first runs
constexpr int soakRuns = 200;
constexpr qint64 residentToleranceKiB = 4096;
constexpr int threadsGoneTimeoutMs = 10000;
constexpr int settleMs = 100;
constexpr quint32 stuckAddress = 0x80100;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

enum Failure { EraseRefused, VerifyGivesUp, NoDevice, DamagedFile, FailureKinds };
const char *const failureNames[FailureKinds] = {"erase refused", "verification gives up", "no device",
                                                "damaged file"};

// The engine writes a few debug lines per run; 210 runs of them would only bury the test's own output.
std::atomic<int> finishedSlotCalls{0};
QtMessageHandler previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg) {
        previousHandler(type, context, message);
        return;
    }
    if (message == QLatin1String("void MainWindow::updateFinished()"))
        ++finishedSlotCalls;
}

QString describe(const Resources &resources)
{
    return QStringLiteral("%1 descriptors, %2 threads, %3 KiB resident")
        .arg(resources.descriptors)
        .arg(resources.threads)
        .arg(resources.residentKiB);
}

// The last run's thread object is gone, but its system thread, and the event
// descriptor its loop held, may still be on their way out.
Resources settled(const Resources &idle)
{
    testsupport::waitFor([&] { return measure().threads <= idle.threads; }, threadsGoneTimeoutMs);
    QTest::qWait(settleMs);
    return measure();
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void backToBackRuns();

private:
    // One run through the window; fails the test on any broken rule.
    void runOnce(int number, WindowUnderTest &ui, RunWatcher &watcher);

    QTemporaryDir dir;
    QString goodFile;
    QString damagedFile;
};

void TestSoak::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(dir.isValid());
    const QList<updatefile::Image> images = {image("BOOT", 0x40000, updatefile::pattern(1, 3000)),
                                             image("APP", 0x80000, updatefile::pattern(2, 1500))};
    goodFile = dir.filePath(QStringLiteral("soak.zarnru"));
    QVERIFY(updatefile::writeFile(goodFile, images));
    damagedFile = dir.filePath(QStringLiteral("damaged.zarnru"));
    QFile damaged(damagedFile);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    QVERIFY(damaged.write(updatefile::build(images).left(3000 + 32 + 20)) > 0);
    previousHandler = qInstallMessageHandler(quietHandler);
}

void TestSoak::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void TestSoak::runOnce(int number, WindowUnderTest &ui, RunWatcher &watcher)
{
    const bool success = number % 2 == 0;
    const Failure failure = Failure((number / 2) % FailureKinds);
    zarnsim::reset();
    QString path = goodFile;
    if (!success) {
        switch (failure) {
        case EraseRefused:
            zarnsim::failEraseAt(0x80000);
            break;
        case VerifyGivesUp:
            zarnsim::addStuckBits(stuckAddress, 0x01);
            break;
        case NoDevice:
            zarnsim::setNodeError(zarnsim::Node::Flash, ENOENT);
            break;
        default:
            path = damagedFile;
            break;
        }
    }
    const int slotCallsBefore = finishedSlotCalls;
    const auto seen = ui.pressUpdate(path);
    QVERIFY(seen->seen);
    QCOMPARE(seen->className, QStringLiteral("ImageInfoDialog"));
    QVERIFY2(ui.waitForRun(watcher, 0), qPrintable(QStringLiteral("run %1 did not end").arg(number)));
    QCOMPARE(watcher.runCount(), 1);
    const RunRecord run = watcher.run(0);
    watcher.forget();

    const QByteArray label =
        QStringLiteral("run %1 (%2)")
            .arg(number)
            .arg(success ? QStringLiteral("success") : QLatin1String(failureNames[failure]))
            .toUtf8();
    QVERIFY2(run.finished == 1, label.constData());
    QVERIFY2(finishedSlotCalls == slotCallsBefore + 1, label.constData());
    QVERIFY2(!run.status.isEmpty(), label.constData());
    QVERIFY2(run.status.count(doneLine) == (success ? 1 : 0), label.constData());
    QVERIFY2(run.status.last().startsWith(success ? doneLine : QStringLiteral("Error")), label.constData());
    QVERIFY2((ui.totalBar()->value() == 100) == success, label.constData());
}

void TestSoak::backToBackRuns()
{
    RunWatcher watcher;
    WindowUnderTest ui;
    QVERIFY(ui.exposed);
    const Resources atStart = measure();

    for (int number = 0; number < warmUpRuns; ++number) {
        runOnce(number, ui, watcher);
        if (QTest::currentTestFailed())
            return;
    }
    const Resources before = settled(atStart);
    for (int number = warmUpRuns; number < warmUpRuns + soakRuns; ++number) {
        runOnce(number, ui, watcher);
        if (QTest::currentTestFailed())
            return;
    }
    const Resources after = settled(atStart);

    qInfo().noquote() << QStringLiteral("at start:                %1").arg(describe(atStart));
    qInfo().noquote() << QStringLiteral("after %1 warm-up runs:   %2").arg(warmUpRuns).arg(describe(before));
    qInfo().noquote() << QStringLiteral("after %1 more runs:     %2").arg(soakRuns).arg(describe(after));

    // Fewer is no fault: Qt's pool threads expire after half a minute idle.
    QVERIFY2(after.descriptors <= before.descriptors, "descriptors leaked");
    QVERIFY2(after.threads <= before.threads, "threads left behind");
    if (sanitized) {
        // The sanitizer's own bookkeeping (quarantine, shadow memory) grows with
        // every allocation; there the leak check at exit speaks for memory.
        qInfo("resident memory not compared under a sanitizer");
    } else {
        QVERIFY2(after.residentKiB - before.residentKiB <= residentToleranceKiB,
                 qPrintable(QStringLiteral("resident memory grew by %1 KiB")
                                .arg(after.residentKiB - before.residentKiB)));
    }
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
