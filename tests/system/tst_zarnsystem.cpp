#include "testsupport.h"
#include "zarnsim.h"
#include "zarnsystem.h"

#include <cerrno>
#include <fcntl.h>
#include <QList>
#include <QStringList>
#include <QTest>

using testsupport::MessageLog;
using zarnsim::Call;
using zarnsim::Node;
using zarnsim::Op;

Q_DECLARE_METATYPE(QList<quint32>)

namespace {

const quint32 sw = 0x101;
const quint32 hw = 0x201;
const quint32 pid = 0x301;
const QList<quint32> allCommands{sw, hw, pid};
// What the outputs held before the call; kept unless it succeeds.
const QStringList earlier{"earlier timestamp", "earlier sw", "earlier pid"};

QList<Call> mailboxCalls()
{
    QList<Call> calls;
    for (const Call &call : zarnsim::record())
        if (call.node == Node::Mailbox)
            calls.append(call);
    return calls;
}

// The mailbox must have seen one open for read and write, exactly these
// requests, each in a record cleared but for its command, and a close, and
// the flash nothing; returns what differed.
QString checkExchange(const QList<quint32> &commands)
{
    const QList<Call> calls = mailboxCalls();
    if (calls.size() != commands.size() + 2 || int(zarnsim::record().size()) != calls.size())
        return QStringLiteral("%1 device calls for %2 requests")
            .arg(zarnsim::record().size())
            .arg(commands.size());
    if (calls.first().op != Op::Open || calls.first().flags != O_RDWR)
        return QStringLiteral("not opened with O_RDWR alone (flags %1)").arg(calls.first().flags, 0, 8);
    for (int i = 0; i < commands.size(); ++i) {
        const Call &call = calls.at(i + 1);
        if (call.op != Op::Ioctl || call.request != zarnsim::mailboxIocRequest ||
            call.command != commands.at(i))
            return QStringLiteral("call %1 is not the request 0x%2").arg(i + 1).arg(commands.at(i), 0, 16);
        // The device answers into the value and reserved words; a record
        // reused without clearing would carry them into the next request.
        for (size_t word = 1; word < call.mailboxWords.size(); ++word)
            if (call.mailboxWords[word] != 0)
                return QStringLiteral("request %1 arrived with word %2 = 0x%3")
                    .arg(i + 1)
                    .arg(word)
                    .arg(call.mailboxWords[word], 0, 16);
    }
    if (calls.last().op != Op::Close || calls.last().result != 0)
        return QStringLiteral("the device was not closed last");
    return QString();
}

} // namespace

class ZarnSystemTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { zarnsim::reset(); }

    void exchange_data();
    void exchange();
    void outputsThroughGivenPointersOnly_data();
    void outputsThroughGivenPointersOnly();
    void missingDevice();
};

void ZarnSystemTest::exchange_data()
{
    QTest::addColumn<QList<quint32>>("answers"); // software, timestamp, PID
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<quint32>("laterFlags"); // 0: later answers leave command as sent
    QTest::addColumn<unsigned>("failing");   // the request that fails, counted from 1
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("texts"); // timestamp, software, PID
    QTest::addColumn<QList<quint32>>("commands");

    const QList<quint32> answers{0x04030201, 7, 0x00020301};
    const QStringList fixed{"1406615411", "0.0.90", "0.0.90"};
    // Least significant byte first; the last two run together.
    QTest::newRow("1.2.34") << QList<quint32>{0x04030201, 1406615411, 0x00090000} << 0u << 0u << 0u << 0
                            << QStringList{"1406615411", "1.2.34", "0.0.90"} << allCommands;
    QTest::newRow("all zero") << QList<quint32>{0, 0, 0} << 0u << 0u << 0u << 0
                              << QStringList{"0", "0.0.00", "0.0.00"} << allCommands;
    QTest::newRow("all ones") << QList<quint32>{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF} << 0u << 0u << 0u << 0
                              << QStringList{"4294967295", "255.255.255255", "255.255.255255"} << allCommands;
    QTest::newRow("flags 0x7 ignored")
        << answers << 0x7u << 0u << 0u << 0 << QStringList{"7", "1.2.34", "1.3.20"} << allCommands;
    QTest::newRow("flags 0xF: fixed values")
        << answers << 0xFu << 0u << 0u << 0 << fixed << QList<quint32>{sw};
    // Only the first answer's flags count.
    QTest::newRow("flags 0xF after later answers ignored")
        << answers << 0u << 0xFu << 0u << 0 << QStringList{"7", "1.2.34", "1.3.20"} << allCommands;
    QTest::newRow("second request fails")
        << answers << 0u << 0u << 2u << -1 << earlier << QList<quint32>{sw, hw};
    // The flagged first answer ends the exchange before the failing request.
    QTest::newRow("second would fail, after flags 0xF")
        << answers << 0xFu << 0u << 2u << 0 << fixed << QList<quint32>{sw};
}

void ZarnSystemTest::exchange()
{
    QFETCH(QList<quint32>, answers);
    QFETCH(quint32, flags);
    QFETCH(quint32, laterFlags);
    QFETCH(unsigned, failing);
    QFETCH(int, result);
    QFETCH(QStringList, texts);
    QFETCH(QList<quint32>, commands);
    zarnsim::setMailboxAnswers(answers.at(0), answers.at(1), answers.at(2));
    zarnsim::setMailboxFlags(flags);
    if (laterFlags)
        zarnsim::setMailboxLaterFlags(laterFlags);
    if (failing)
        zarnsim::failMailboxRequest(failing, EIO);

    MessageLog log;
    QStringList outputs = earlier;
    QCOMPARE(ZARNsystem::getSystemVersion(&outputs[0], &outputs[1], &outputs[2]), result);
    QCOMPARE(outputs, texts);
    const QString exchange = checkExchange(commands);
    QVERIFY2(exchange.isEmpty(), qPrintable(exchange));
    QCOMPARE(log.messages(), QStringList());
}

void ZarnSystemTest::outputsThroughGivenPointersOnly_data()
{
    QTest::addColumn<QStringList>("given"); // which outputs point at the one shared string
    QTest::addColumn<QString>("expected");

    QTest::newRow("none") << QStringList() << QString();
    // Aliased outputs show the order of assignment: software, timestamp, PID.
    QTest::newRow("software then timestamp") << QStringList{"sw", "timestamp"} << "1394614800";
    QTest::newRow("all three") << QStringList{"sw", "timestamp", "pid"} << "1.3.20";
}

void ZarnSystemTest::outputsThroughGivenPointersOnly()
{
    QFETCH(QStringList, given);
    QFETCH(QString, expected);
    QString shared;
    const auto pointer = [&](const char *name) {
        return given.contains(QLatin1String(name)) ? &shared : nullptr;
    };
    QCOMPARE(ZARNsystem::getSystemVersion(pointer("timestamp"), pointer("sw"), pointer("pid")), 0);
    QCOMPARE(shared, expected);
    // The requests are made whatever the caller wants to see.
    const QString exchange = checkExchange(allCommands);
    QVERIFY2(exchange.isEmpty(), qPrintable(exchange));
}

void ZarnSystemTest::missingDevice()
{
    zarnsim::setNodeError(Node::Mailbox, ENOENT);
    MessageLog log;
    QStringList outputs = earlier;
    QCOMPARE(ZARNsystem::getSystemVersion(&outputs[0], &outputs[1], &outputs[2]), -1);
    QCOMPARE(outputs, earlier);
    QCOMPARE(log.messages(), QStringList{QStringLiteral("Could not open file")});
    QVERIFY(log.lines().first().file.endsWith(QLatin1String("zarnsystem.cpp")));
    const QList<Call> calls = mailboxCalls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.first().flags, O_RDWR);
    QVERIFY(calls.first().op == Op::Open && calls.first().result < 0);
}

QTEST_GUILESS_MAIN(ZarnSystemTest)
#include "tst_zarnsystem.moc"
