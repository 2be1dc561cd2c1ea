// How the window's application hands a run's reports to the window, and the
// kit's main: every run of the kit goes through that application.

#include "tst_windowrun.h"
#include "updaterthread.h"
#include "windowapplication.h"

#include <memory>
#include <QSemaphore>
#include <QStringList>
#include <QtTest>
#include <thread>

void TestWindowRun::reportsKeepTheirOrder_data()
{
    QTest::addColumn<int>("reports");
    QTest::addColumn<bool>("sentWhileDelivering");
    QTest::newRow("a burst while the window is busy") << 3000 << false;
    QTest::newRow("sent while the first of a bundle is delivered") << 4 << true;
}

// The reports a run sends while the window is busy reach it in bundles,
// without waking it for each; each still reaches it, in the order sent, even
// those sent while the first call of a bundle is being delivered.
void TestWindowRun::reportsKeepTheirOrder()
{
    QFETCH(int, reports);
    QFETCH(bool, sentWhileDelivering);
    auto *application = dynamic_cast<WindowApplication *>(QCoreApplication::instance());
    QVERIFY(application);
    UpdaterThread worker;
    QObject window;
    WindowApplication::bundleReportsTo(&window);
    QStringList taken;
    QStringList expected;
    for (int k = 0; k < reports + (sentWhileDelivering ? 2 : 0); ++k)
        expected << QStringLiteral("c%1").arg(int(100.0f * (float(k) / 100.0f))) << QStringLiteral("t0");
    connect(&worker, &UpdaterThread::updateCurrentProgress, &window,
            [&](int value) { taken << QStringLiteral("c%1").arg(value); });
    QSemaphore burstSent;
    QSemaphore delivering;
    QSemaphore moreSent;
    connect(&worker, &UpdaterThread::updateTotalProgress, &window, [&](int value) {
        taken << QStringLiteral("t%1").arg(value);
        // The first total is the first call of the bundle: the run goes on meanwhile.
        if (sentWhileDelivering && taken.size() == 2) {
            delivering.release();
            moreSent.tryAcquire(1, 5000);
        }
    });
    const quint64 bundledBefore = application->bundledReports();
    const auto send = [&worker](int from, int to) {
        for (int k = from; k < to; ++k)
            worker.reportProgress(0, float(k) / 100.0f);
    };
    std::thread run([&] {
        send(0, reports);
        burstSent.release();
        if (sentWhileDelivering && delivering.tryAcquire(1, 5000)) {
            send(reports, reports + 2);
            moreSent.release();
        }
    });
    burstSent.acquire();
    QTest::qWait(0);
    QTRY_COMPARE_WITH_TIMEOUT(taken.size(), expected.size(), 5000);
    run.join();
    QCOMPARE(taken, expected);
    QVERIFY(application->bundledReports() - bundledBefore >= quint64(2 * reports - 2));
}

// A window that goes while reports wait for it takes them along, and the next
// window's reports still reach it.
void TestWindowRun::reportsOutliveAnEarlierWindow()
{
    UpdaterThread worker;
    const auto send = [&worker] {
        std::thread run([&worker] {
            for (int k = 0; k < 10; ++k)
                worker.reportProgress(0, float(k) / 100.0f);
        });
        run.join();
    };
    auto first = std::make_unique<QObject>();
    WindowApplication::bundleReportsTo(first.get());
    int takenByFirst = 0;
    connect(&worker, &UpdaterThread::updateCurrentProgress, first.get(),
            [&takenByFirst](int) { ++takenByFirst; });
    connect(&worker, &UpdaterThread::updateTotalProgress, first.get(), [](int) {});
    send();
    QObject second;
    WindowApplication::bundleReportsTo(&second);
    first.reset();
    QStringList taken;
    connect(&worker, &UpdaterThread::updateCurrentProgress, &second,
            [&taken](int value) { taken << QString::number(value); });
    connect(&worker, &UpdaterThread::updateTotalProgress, &second, [](int) {});
    send();
    QTRY_COMPARE_WITH_TIMEOUT(taken.size(), 10, 2000);
    // Not one of them went to the window that was gone, nor to its slots.
    QCOMPARE(takenByFirst, 0);
}

int main(int argc, char *argv[])
{
    WindowApplication application(argc, argv);
    application.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindowRun test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
