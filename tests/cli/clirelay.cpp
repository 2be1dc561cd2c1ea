// How zarn-update's relay hands the run's reports to the program's thread.

#include "runkit.h"
#include "runrelay.h"
#include "tst_clirecords.h"

#include <atomic>
#include <memory>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QThread>
#include <QtTest>

void TestCommandLineRecords::reportsReachTheProgram_data()
{
    // What the run's thread says, in order: "c:total" a pair of bar values,
    // "line" a step line, "stage" a stage entered. A report every few
    // microseconds, as a fast device sends them, while the program takes each
    // hand-over as it comes.
    QTest::addColumn<QStringList>("sent");
    // What the program must have been told last, and before each line or stage.
    QTest::addColumn<QStringList>("told");
    QStringList burst;
    for (int i = 0; i < 2000; ++i)
        burst << QStringLiteral("%1:%2").arg(i % 100).arg(i / 40);
    QTest::newRow("a burst, then a line") << (burst + QStringList{"line"}) << QStringList{"99:49", "line"};
    QTest::newRow("a burst, then a stage") << (burst + QStringList{"stage"}) << QStringList{"99:49", "stage"};
    QTest::newRow("a burst that ends a phase") << (burst + QStringList{"100:50"}) << QStringList{"100:50"};
    QTest::newRow("a burst that ends the run") << (burst + QStringList{"7:100"}) << QStringList{"7:100"};
    QTest::newRow("a line between two bursts") << (burst + QStringList{"line"} + burst + QStringList{"line"})
                                               << QStringList{"99:49", "line", "99:49", "line"};
}

void TestCommandLineRecords::reportsReachTheProgram()
{
    QFETCH(QStringList, sent);
    QFETCH(QStringList, told);
    RunRelay relay;
    QStringList heard;
    int handOvers = 0;
    connect(&relay, &RunRelay::progressed, this, [&](int current, int total) {
        heard << QStringLiteral("%1:%2").arg(current).arg(total);
        ++handOvers;
    });
    connect(&relay, &RunRelay::stepLine, this, [&] { heard << QStringLiteral("line"); });
    connect(&relay, &RunRelay::stageEntered, this, [&] { heard << QStringLiteral("stage"); });
    std::atomic<qint64> sendingMs{0};
    std::unique_ptr<QThread> run(QThread::create([&relay, &sendingMs, sent] {
        QElapsedTimer sending;
        sending.start();
        for (const QString &said : sent) {
            if (said == QLatin1String("line")) {
                relay.tellStepLine(said);
            } else if (said == QLatin1String("stage")) {
                relay.tellStageEntered(1, 0);
            } else {
                relay.tellCurrent(said.section(QLatin1Char(':'), 0, 0).toInt());
                relay.tellTotal(said.section(QLatin1Char(':'), 1, 1).toInt());
                QThread::usleep(10);
            }
        }
        sendingMs = sending.elapsed();
    }));
    // The program's loop runs all the while, as zarn-update's does, taking each hand-over at once.
    QEventLoop loop;
    connect(run.get(), &QThread::finished, &loop, &QEventLoop::quit);
    run->start();
    loop.exec();
    QTRY_VERIFY_WITH_TIMEOUT(heard.endsWith(told.last()), 5000);
    // Nothing left to come: the last values were not held back.
    QTest::qWait(50);
    QCOMPARE(heard.last(), told.last());
    QStringList before;
    for (int i = 0; i < heard.size(); ++i)
        if (heard.at(i) == QLatin1String("line") || heard.at(i) == QLatin1String("stage"))
            before << heard.value(i - 1) << heard.at(i);
    if (told.last().contains(QLatin1Char(':')))
        before << told.last();
    QCOMPARE(before, told);
    // The bursts went over in a few hand-overs, not one each, however slowly the machine sent them.
    const qint64 allowed = sendingMs / RunRelay::holdMs + 10 * sent.count(QStringLiteral("0:0"));
    QVERIFY2(handOvers <= allowed, qPrintable(QStringLiteral("%1 > %2").arg(handOvers).arg(allowed)));
}
