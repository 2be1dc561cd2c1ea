// The simulated device where the tests of the real program lean on it: one
// flash shared between processes, locked between them as the real node is,
// power cuts that tear the call in progress, and settings from the
// environment, which it reports when it cannot read them. The product's own
// tests show the rest of it.

#include "runkit.h"

#include <algorithm>
#include <csignal>
#include <QTemporaryDir>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

namespace {

constexpr uint32_t page = 0x20000; // where cutChild() works
constexpr int writeCalls[] = {4, 5, 8};
constexpr int lastCall = 8;

QByteArray block(int index)
{
    return updatefile::pattern(quint32(index) + 1, 1024);
}

// What the page holds after the first calls of cutChild(), each whole, from a page of zeros.
QByteArray pageAfter(int calls)
{
    QByteArray bytes(zarnsim::flashPageSize, calls < 2 ? '\0' : '\xff');
    for (int i = 0; i < 3; ++i)
        if (calls >= writeCalls[i])
            bytes.replace(i * 1024, 1024, block(i));
    return bytes;
}

// Configured from the environment as a preloaded program is: unlocks, erases
// the page, writes two blocks, reads them back and writes a third, eight
// calls that count between uncounted opens, locks and mailbox requests.
[[noreturn]] void cutChild(const QByteArray &cut, const QByteArray &recordFile)
{
    qputenv("ZARNSIM_CUT", cut);
    qputenv("ZARNSIM_RECORD_FILE", recordFile);
    if (!zarnsim::configureFromEnvironment().empty())
        ::_exit(3);
    const int fd = ::open(zarnsim::flashPath, O_RDWR);
    const int mailbox = ::open(zarnsim::mailboxPath, O_RDWR);
    uint32_t request[8] = {0x101};
    const std::string blocks = (block(0) + block(1) + block(2)).toStdString();
    char back[2048];
    const bool ok = ::flock(fd, LOCK_EX) == 0 &&
                    ::ioctl(fd, zarnsim::flashIocUnlock, zarnsim::unlockPhrase) == 0 &&
                    ::ioctl(mailbox, zarnsim::mailboxIocRequest, request) == 0 &&
                    ::ioctl(fd, zarnsim::flashIocErasePage, (unsigned long)page) == 0 &&
                    ::lseek(fd, page, SEEK_SET) == page && ::write(fd, blocks.data(), 1024) == 1024 &&
                    ::write(fd, blocks.data() + 1024, 1024) == 1024 && ::lseek(fd, page, SEEK_SET) == page &&
                    ::read(fd, back, 2048) == 2048 && ::write(fd, blocks.data() + 2048, 1024) == 1024;
    ::_exit(ok ? 0 : 4);
}

} // namespace

class SimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { zarnsim::reset(); }
    void sharedFlashLockedBetweenProcesses();
    void powerCut_data();
    void powerCut();
    void settingItCannotRead();
};

// A process that holds the flash keeps others out until it is killed, and
// what it programmed stays, as after a power cut.
void SimulatorTest::sharedFlashLockedBetweenProcesses()
{
    QTemporaryDir dir;
    QVERIFY(zarnsim::setBackingFile(QFile::encodeName(dir.filePath(QStringLiteral("flash"))).toStdString()));
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(zarnsim::flashPath, O_RDWR);
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                          ::ioctl(fd, zarnsim::flashIocUnlock, zarnsim::unlockPhrase) == 0 &&
                          ::lseek(fd, 0x20000, SEEK_SET) == 0x20000 && ::write(fd, "held", 4) == 4;
        [[maybe_unused]] const ssize_t told = ::write(ready[1], held ? "1" : "0", 1);
        ::pause();
        ::_exit(0);
    }
    QVERIFY(holder > 0); // never a signal to -1 below
    char held = 0;
    QVERIFY(::read(ready[0], &held, 1) == 1 && held == '1');
    const int fd = ::open(zarnsim::flashPath, O_RDWR);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno, EWOULDBLOCK);
    QCOMPARE(runkit::flash(0x20000, 4), QByteArray("held"));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    QCOMPARE(runkit::flash(0x20000, 4), QByteArray("held"));
    ::close(fd);
    ::close(ready[0]);
    ::close(ready[1]);

    // A file that is not such a flash is refused and left as it was.
    QFile other(dir.filePath(QStringLiteral("other")));
    QVERIFY(other.open(QIODevice::WriteOnly) && other.write("not a flash") == 11);
    other.close();
    std::string message;
    QVERIFY(!zarnsim::setBackingFile(QFile::encodeName(other.fileName()).toStdString(), &message));
    QVERIFY2(message.find("not a simulated flash image") != std::string::npos, message.c_str());
    QVERIFY(other.open(QIODevice::ReadOnly) && other.readAll() == "not a flash");
}

void SimulatorTest::powerCut_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<quint64>("seed");
    QTest::newRow("in the unlock: nothing torn") << 1 << quint64(0);
    QTest::newRow("in the erase, torn") << 2 << quint64(0);
    QTest::newRow("in a seek: nothing torn") << 3 << quint64(9);
    QTest::newRow("in the first write, torn") << 4 << quint64(1);
    QTest::newRow("in a write after a whole one, torn") << 5 << quint64(0xFEDCBA9876543210);
    QTest::newRow("in a read: nothing torn") << 7 << quint64(3);
    QTest::newRow("in a write after the others, torn") << 8 << quint64(42);
    QTest::newRow("after the last call: none torn, the program ends") << 9 << quint64(0);
}

// The n-th call is the one torn, as documented, the calls before it whole and
// none after it made; the process ends by SIGKILL; the seed decides the tear.
void SimulatorTest::powerCut()
{
    QFETCH(int, n);
    QFETCH(quint64, seed);
    QTemporaryDir dir;
    QVERIFY(zarnsim::setBackingFile(QFile::encodeName(dir.filePath(QStringLiteral("flash"))).toStdString()));
    const QString record = dir.filePath(QStringLiteral("record"));
    int status = 0;
    const auto cut = [&](quint64 tearSeed) {
        runkit::setFlash(page, QByteArray(zarnsim::flashPageSize, '\0'));
        const pid_t child = ::fork();
        if (child == 0)
            cutChild(QByteArray::number(n) + ':' + QByteArray::number(tearSeed), QFile::encodeName(record));
        ::waitpid(child, &status, 0);
        return runkit::flash(page, zarnsim::flashPageSize);
    };
    const QByteArray torn = cut(seed);
    if (n <= lastCall)
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    else
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const QByteArray before = pageAfter(n - 1);
    const QByteArray after = pageAfter(std::min(n, lastCall));
    // Only the bits that the n-th call changes may differ from what the calls before it left.
    int stray = -1;
    for (int i = 0; i < torn.size() && stray < 0; ++i)
        if (((torn[i] ^ before[i]) & ~(before[i] ^ after[i])) != 0)
            stray = i;
    QCOMPARE(stray, -1);
    if (before != after) {
        QVERIFY(torn != before && torn != after);
        if (n == 2) {
            for (int piece = 0; piece < torn.size(); piece += 4096)
                QVERIFY(torn.mid(piece, 4096) == before.mid(piece, 4096) ||
                        torn.mid(piece, 4096) == after.mid(piece, 4096));
        } else {
            const int partial =
                int(std::mismatch(torn.begin(), torn.end(), after.begin()).first - torn.begin());
            QCOMPARE(torn.mid(partial + 1), before.mid(partial + 1));
        }
    }
    if (n <= lastCall) {
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QList<QByteArray> counted;
        for (const QByteArray &line : lines)
            if (line.startsWith("flash ") && !line.startsWith("flash open"))
                counted << line;
        QCOMPARE(counted.size(), n);
        QVERIFY2(counted.last().endsWith(" result=cut") && lines.at(lines.size() - 2) == counted.last(),
                 lines.join('\n').constData());
    }
    QCOMPARE(cut(seed), torn);
    QCOMPARE(cut(seed + 1) == torn, before == after);
}

void SimulatorTest::settingItCannotRead()
{
    qputenv("ZARNSIM_HANG", "write");
    const std::vector<std::string> messages = zarnsim::configureFromEnvironment();
    qunsetenv("ZARNSIM_HANG");
    QCOMPARE(int(messages.size()), 1);
    QVERIFY2(messages.front().rfind("ZARNSIM_HANG=write ignored: expected ", 0) == 0,
             messages.front().c_str());
}

QTEST_GUILESS_MAIN(SimulatorTest)
#include "tst_simulator.moc"
