#include "testsupport.h"
#include "zarnsim.h"
#include "zarnsystem.h"

#include <cerrno>
#include <fcntl.h>
#include <QList>
#include <QStringList>
#include <QTest>
#include <vector>

using testsupport::MessageLog;
using zarnsim::Call;
using zarnsim::Node;
using zarnsim::Op;

Q_DECLARE_METATYPE(QList<quint32>)

namespace {

const quint32 commandSwVersion = 0x101;
const quint32 commandHwTimestamp = 0x201;
const quint32 commandPidVersion = 0x301;
const QList<quint32> allCommands{commandSwVersion, commandHwTimestamp, commandPidVersion};

// Later answers leave command as the caller put it.
const qint64 commandAsSent = -1;

const QString earlierTimestamp = QStringLiteral("earlier timestamp");
const QString earlierSw = QStringLiteral("earlier sw");
const QString earlierPid = QStringLiteral("earlier pid");

QList<Call> mailboxCalls()
{
    QList<Call> calls;
    for (const Call &call : zarnsim::record())
        if (call.node == Node::Mailbox)
            calls.append(call);
    return calls;
}

bool touchedFlash()
{
    for (const Call &call : zarnsim::record())
        if (call.node == Node::Flash)
            return true;
    return false;
}

// The mailbox must have seen one open for read and write, exactly these
// requests, each in a record cleared but for its command, and a close;
// returns what differed.
QString checkExchange(const QList<quint32> &commands)
{
    const QList<Call> calls = mailboxCalls();
    if (calls.size() != commands.size() + 2)
        return QStringLiteral("%1 mailbox calls for %2 requests").arg(calls.size()).arg(commands.size());
    if (calls.first().op != Op::Open || calls.first().flags != O_RDWR)
        return QStringLiteral("not opened with O_RDWR alone (flags %1)").arg(calls.first().flags, 0, 8);
    for (int i = 0; i < commands.size(); ++i) {
        const Call &call = calls.at(i + 1);
        if (call.op != Op::Ioctl || call.request != zarnsim::mailboxIocRequest)
            return QStringLiteral("call %1 is not the mailbox request").arg(i + 1);
        if (call.command != commands.at(i))
            return QStringLiteral("request %1 carried command 0x%2").arg(i + 1).arg(call.command, 0, 16);
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
    return touchedFlash() ? QStringLiteral("the flash device was touched") : QString();
}

} // namespace

class ZarnSystemTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { zarnsim::reset(); }

    void answers_data();
    void answers();
    void failingRequest_data();
    void failingRequest();
    void outputsThroughGivenPointersOnly_data();
    void outputsThroughGivenPointersOnly();
    void missingDevice();
};

void ZarnSystemTest::answers_data()
{
    QTest::addColumn<quint32>("sw");
    QTest::addColumn<quint32>("timestamp");
    QTest::addColumn<quint32>("pid");
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<qint64>("laterFlags");
    QTest::addColumn<QString>("swText");
    QTest::addColumn<QString>("timestampText");
    QTest::addColumn<QString>("pidText");
    QTest::addColumn<QList<quint32>>("commands");

    // Least significant byte first; the last two run together.
    QTest::newRow("1.2.34") << 0x04030201u << 1406615411u << 0x00090000u << 0u << commandAsSent << "1.2.34"
                            << "1406615411"
                            << "0.0.90" << allCommands;
    QTest::newRow("all zero") << 0u << 0u << 0u << 0u << commandAsSent << "0.0.00"
                              << "0"
                              << "0.0.00" << allCommands;
    QTest::newRow("all ones") << 0xFFFFFFFFu << 0xFFFFFFFFu << 0xFFFFFFFFu << 0u << commandAsSent
                              << "255.255.255255"
                              << "4294967295"
                              << "255.255.255255" << allCommands;
    QTest::newRow("flags 0x7 ignored")
        << 0x04030201u << 7u << 0x00020301u << 0x7u << commandAsSent << "1.2.34"
        << "7"
        << "1.3.20" << allCommands;
    QTest::newRow("flags 0xF: fixed values")
        << 0x04030201u << 7u << 0x00020301u << 0xFu << commandAsSent << "0.0.90"
        << "1406615411"
        << "0.0.90" << QList<quint32>{commandSwVersion};
    // Only the first answer's flags count; the later ones are not looked at.
    QTest::newRow("flags 0xF after later answers ignored")
        << 0x04030201u << 7u << 0x00020301u << 0u << qint64(0xF) << "1.2.34"
        << "7"
        << "1.3.20" << allCommands;
}

void ZarnSystemTest::answers()
{
    QFETCH(quint32, sw);
    QFETCH(quint32, timestamp);
    QFETCH(quint32, pid);
    QFETCH(quint32, flags);
    QFETCH(qint64, laterFlags);
    QFETCH(QString, swText);
    QFETCH(QString, timestampText);
    QFETCH(QString, pidText);
    QFETCH(QList<quint32>, commands);

    zarnsim::setMailboxAnswers(sw, timestamp, pid);
    zarnsim::setMailboxFlags(flags);
    if (laterFlags != commandAsSent)
        zarnsim::setMailboxLaterFlags(quint32(laterFlags));

    MessageLog log;
    QString timestampOut = earlierTimestamp;
    QString swOut = earlierSw;
    QString pidOut = earlierPid;
    QCOMPARE(ZARNsystem::getSystemVersion(&timestampOut, &swOut, &pidOut), 0);

    QCOMPARE(QStringList({swOut, timestampOut, pidOut}), QStringList({swText, timestampText, pidText}));
    const QString exchange = checkExchange(commands);
    QVERIFY2(exchange.isEmpty(), qPrintable(exchange));
    QCOMPARE(log.messages(), QStringList());
}

void ZarnSystemTest::failingRequest_data()
{
    QTest::addColumn<unsigned>("failing");
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QList<quint32>>("commands");

    QTest::newRow("second, software version already read")
        << 2u << 0u << -1 << QList<quint32>{commandSwVersion, commandHwTimestamp};
    // The flagged first answer ends the exchange before the failing request.
    QTest::newRow("second, after flags 0xF") << 2u << 0xFu << 0 << QList<quint32>{commandSwVersion};
}

void ZarnSystemTest::failingRequest()
{
    QFETCH(unsigned, failing);
    QFETCH(quint32, flags);
    QFETCH(int, expected);
    QFETCH(QList<quint32>, commands);

    zarnsim::setMailboxFlags(flags);
    zarnsim::failMailboxRequest(failing, EIO);

    MessageLog log;
    QString timestampOut = earlierTimestamp;
    QString swOut = earlierSw;
    QString pidOut = earlierPid;
    const int result = ZARNsystem::getSystemVersion(&timestampOut, &swOut, &pidOut);

    QCOMPARE(result, expected);
    const QString exchange = checkExchange(commands);
    QVERIFY2(exchange.isEmpty(), qPrintable(exchange));
    if (expected < 0) {
        QCOMPARE(mailboxCalls().at(commands.size()).result, long(result));
        QCOMPARE(QStringList({timestampOut, swOut, pidOut}),
                 QStringList({earlierTimestamp, earlierSw, earlierPid}));
        QCOMPARE(log.messages(), QStringList());
    } else {
        QCOMPARE(swOut, QStringLiteral("0.0.90"));
    }
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

    zarnsim::setMailboxAnswers(0x04030201, 1394614800, 0x00020301);
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
    QString timestampOut = earlierTimestamp;
    QString swOut = earlierSw;
    QString pidOut = earlierPid;
    QCOMPARE(ZARNsystem::getSystemVersion(&timestampOut, &swOut, &pidOut), -1);

    QCOMPARE(QStringList({timestampOut, swOut, pidOut}),
             QStringList({earlierTimestamp, earlierSw, earlierPid}));
    QCOMPARE(log.messages(), QStringList{QStringLiteral("Could not open file")});
    QVERIFY(log.lines().first().file.endsWith(QLatin1String("zarnsystem.cpp")));
    const QList<Call> calls = mailboxCalls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.first().flags, O_RDWR);
    QVERIFY(calls.first().op == Op::Open && calls.first().result < 0);
}

QTEST_GUILESS_MAIN(ZarnSystemTest)
#include "tst_zarnsystem.moc"
