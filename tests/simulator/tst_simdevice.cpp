// The simulated device through the real system calls, as the utility sees it:
// the programming model, each fault the tests inject, the record and the mailbox.

#include "zarnsim.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char phrase[] = "heedful!!";
constexpr uint32_t page = zarnsim::flashPageSize;

int openFlash()
{
    return ::open(zarnsim::flashPath, O_RDWR);
}

int unlock(int fd, const char *text = phrase)
{
    return ::ioctl(fd, zarnsim::flashIocUnlock, text);
}

int erase(int fd, uint32_t address)
{
    return ::ioctl(fd, zarnsim::flashIocErasePage, static_cast<unsigned long>(address));
}

ssize_t writeAt(int fd, uint32_t address, const QByteArray &bytes)
{
    ::lseek(fd, address, SEEK_SET);
    return ::write(fd, bytes.constData(), size_t(bytes.size()));
}

QByteArray readAt(int fd, uint32_t address, int length)
{
    QByteArray bytes(length, '\0');
    ::lseek(fd, address, SEEK_SET);
    const ssize_t n = ::read(fd, bytes.data(), size_t(length));
    bytes.resize(n < 0 ? 0 : int(n));
    return bytes;
}

QByteArray flash(uint32_t address, uint32_t length)
{
    const auto bytes = zarnsim::flashBytes(address, length);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

void setFlash(uint32_t address, const QByteArray &bytes)
{
    zarnsim::setFlashBytes(address, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

QByteArray word(uint32_t value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

QStringList recorded()
{
    QStringList lines;
    for (const auto &call : zarnsim::record())
        lines << QString::fromStdString(zarnsim::describe(call));
    return lines;
}

struct MailboxRequest
{
    uint32_t command = 0;
    uint32_t value = 0;
    uint32_t reserved[6] = {};
};

int ask(int fd, MailboxRequest &request, uint32_t command)
{
    request = MailboxRequest();
    request.command = command;
    return ::ioctl(fd, zarnsim::mailboxIocRequest, &request);
}

// The flash calls after open and unlock, as op@address=result (hex) or =eN.
QString flashCalls()
{
    QStringList calls;
    for (const auto &call : zarnsim::record()) {
        if (call.op == zarnsim::Op::Ioctl && call.request == zarnsim::flashIocErasePage)
            calls << QStringLiteral("erase@%1").arg(call.argument, 0, 16);
        else if (call.op == zarnsim::Op::Lseek || call.op == zarnsim::Op::Read ||
                 call.op == zarnsim::Op::Write)
            calls << QStringLiteral("%1@%2")
                         .arg(call.op == zarnsim::Op::Lseek  ? "lseek"
                              : call.op == zarnsim::Op::Read ? "read"
                                                             : "write")
                         .arg(call.address, 0, 16);
        else
            continue;
        calls.last() += call.result < 0 ? QStringLiteral("=e%1").arg(call.error)
                                        : QStringLiteral("=%1").arg(call.result, 0, 16);
    }
    return calls.join(QLatin1Char(' '));
}

bool isRegularFile(const char *path)
{
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

class tst_SimDevice : public QObject
{
    Q_OBJECT

private slots:
    void init() { zarnsim::reset(); }
    // The shim must never leave a file where the driver's nodes belong.
    void cleanupTestCase()
    {
        QVERIFY(!isRegularFile(zarnsim::flashPath) && !isRegularFile(zarnsim::mailboxPath));
    }

    void programmingIsAnd_data();
    void programmingIsAnd();
    void eraseCoversOnePageFromAnyAddress_data();
    void eraseCoversOnePageFromAnyAddress();
    void lockedDeviceProgramsNothing();
    void transfersAdvanceAndStopAtTheEnd();

    void missingNodeLeavesNoFile();
    void weakWordHoldsOnItsNthWrite();
    void losingWordHealsAfterPageRewrite();

    void flashCallFaults_data();
    void flashCallFaults();
    void flockBelongsToTheOpen_data();
    void flockBelongsToTheOpen();

    void recordListsEveryCallInOrder();
    void mailboxAnswersAndFlags();
    void deviceThreadBesideQFileThread();
};

void tst_SimDevice::programmingIsAnd_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("erased takes any value") << word(0xFFFFFFFF) << word(0x12345678) << word(0x12345678);
    QTest::newRow("bits only clear") << word(0x12345678) << word(0x87654321) << word(0x02244220);
    QTest::newRow("one byte") << QByteArray("\xF0", 1) << QByteArray("\x3C", 1) << QByteArray("\x30", 1);
}

void tst_SimDevice::programmingIsAnd()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, after);
    const uint32_t address = 0x12345;
    setFlash(address, before);
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(writeAt(fd, address, written), ssize_t(written.size()));
    QCOMPARE(readAt(fd, address, after.size()), after);
    QCOMPARE(flash(address - 1, 1) + flash(address + uint32_t(after.size()), 1), QByteArray(2, '\xFF'));
    ::close(fd);
}

void tst_SimDevice::eraseCoversOnePageFromAnyAddress_data()
{
    QTest::addColumn<uint32_t>("address");
    QTest::addColumn<uint32_t>("erased"); // bytes that the erase may reach

    QTest::newRow("on a page boundary") << 0x40000u << page;
    QTest::newRow("off a page boundary") << 0x41235u << page;
    QTest::newRow("cut by the end of the space") << 0xFFFF0000u << 0x10000u;
}

void tst_SimDevice::eraseCoversOnePageFromAnyAddress()
{
    QFETCH(uint32_t, address);
    QFETCH(uint32_t, erased);
    // Programmed on both sides and across the page, and at address 0 to catch a wrap.
    setFlash(address - 4,
             QByteArray(int(std::min<uint64_t>(page + 8, (uint64_t(1) << 32) - address + 4)), '\0'));
    setFlash(0, QByteArray(16, '\0'));
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(erase(fd, address), 0);
    QCOMPARE(flash(address, erased), QByteArray(int(erased), '\xFF'));
    QCOMPARE(flash(address - 4, 4), QByteArray(4, '\0'));
    if (erased == page)
        QCOMPARE(flash(address + page, 4), QByteArray(4, '\0'));
    QCOMPARE(flash(0, 4), QByteArray(4, '\0'));
    ::close(fd);
}

void tst_SimDevice::lockedDeviceProgramsNothing()
{
    setFlash(0x20000, QByteArray(8, '\x55'));
    const int fd = openFlash();
    for (const char *wrong : {"heedful!", "Heedful!!", "heedful!! "}) {
        errno = 0;
        QCOMPARE(unlock(fd, wrong), -1);
        QCOMPARE(errno, EACCES);
    }
    QVERIFY(!zarnsim::unlocked());
    QCOMPARE(writeAt(fd, 0x1000, word(0)), ssize_t(-1));
    QCOMPARE(errno, EPERM);
    QCOMPARE(erase(fd, 0x20000), -1);
    QCOMPARE(errno, EPERM);
    QCOMPARE(flash(0x1000, 4) + flash(0x20000, 8), word(0xFFFFFFFF) + QByteArray(8, '\x55'));
    QCOMPARE(unlock(fd), 0);
    QVERIFY(zarnsim::unlocked());
    ::close(fd);
}

void tst_SimDevice::transfersAdvanceAndStopAtTheEnd()
{
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(writeAt(fd, 0x100, QByteArray(1024, '\x11')), ssize_t(1024));
    QCOMPARE(::write(fd, "\x22\x22\x22\x22", 4), ssize_t(4));
    QCOMPARE(::lseek(fd, 0, SEEK_CUR), off_t(0x100 + 1028));
    char bytes[4];
    ::lseek(fd, 0x100 + 1022, SEEK_SET);
    QCOMPARE(::read(fd, bytes, 2), ssize_t(2));
    QCOMPARE(::read(fd, bytes + 2, 2), ssize_t(2));
    QCOMPARE(QByteArray(bytes, 4), QByteArray("\x11\x11\x22\x22"));

    // Nothing wraps past 0xFFFFFFFF: a short write, then nothing more.
    QCOMPARE(::lseek(fd, 0xFFFFFFFE, SEEK_SET), off_t(0xFFFFFFFE));
    QCOMPARE(::write(fd, "\0\0\0\0", 4), ssize_t(2));
    QCOMPARE(flash(0xFFFFFFFE, 2) + flash(0, 2), QByteArray("\0\0\xFF\xFF", 4));
    QCOMPARE(::write(fd, "\0", 1), ssize_t(-1));
    QCOMPARE(errno, ENOSPC);
    QCOMPARE(::read(fd, bytes, 4), ssize_t(0));
    QCOMPARE(::lseek(fd, off_t(0x100000001), SEEK_SET), off_t(-1));
    ::close(fd);
}

void tst_SimDevice::missingNodeLeavesNoFile()
{
    zarnsim::setNodeError(zarnsim::Node::Flash, ENOENT);
    // As root, O_CREAT would make a regular file where the node is missing.
    QCOMPARE(::open(zarnsim::flashPath, O_RDWR | O_CREAT, 0644), -1);
    QCOMPARE(errno, ENOENT);
    QVERIFY(!isRegularFile(zarnsim::flashPath));
    const int mailbox = ::open(zarnsim::mailboxPath, O_RDWR);
    QVERIFY(mailbox >= 0);
    ::close(mailbox);
}

void tst_SimDevice::weakWordHoldsOnItsNthWrite()
{
    zarnsim::addWeakWord(0x40400, 3);
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(writeAt(fd, 0x40000, QByteArray(2048, '\x5A')), ssize_t(2048)); // attempt 1
    QCOMPARE(flash(0x403FC, 12), QByteArray(4, '\x5A') + word(0xFFFFFFFF) + QByteArray(4, '\x5A'));
    QCOMPARE(writeAt(fd, 0x40400, word(0x5A5A5A5A)), ssize_t(4)); // attempt 2
    QCOMPARE(flash(0x40400, 4), word(0xFFFFFFFF));
    QCOMPARE(writeAt(fd, 0x40400, word(0x5A5A5A5A)), ssize_t(4)); // attempt 3 holds
    QCOMPARE(flash(0x40400, 4), word(0x5A5A5A5A));
    ::close(fd);
}

void tst_SimDevice::losingWordHealsAfterPageRewrite()
{
    zarnsim::addLosingWord(0x60010, 0x00000100);
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    // An erase before the first write does not heal it, nor does writing again.
    QCOMPARE(erase(fd, 0x60000), 0);
    QCOMPARE(writeAt(fd, 0x60010, word(0x12345778)), ssize_t(4));
    QCOMPARE(writeAt(fd, 0x60010, word(0x12345778)), ssize_t(4));
    QCOMPARE(flash(0x60010, 4), word(0x12345678));
    QCOMPARE(erase(fd, 0x60000), 0);
    QCOMPARE(writeAt(fd, 0x60010, word(0x12345778)), ssize_t(4));
    QCOMPARE(flash(0x60010, 4), word(0x12345778));
    ::close(fd);
}

void tst_SimDevice::flashCallFaults_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<uint>("n");
    QTest::addColumn<int>("error"); // 0: transfers of at most n bytes instead
    QTest::addColumn<QString>("calls");
    QTest::addColumn<uint>("stored");

    using zarnsim::Op;
    const auto row = [](const char *name, Op op, uint n, int error, const char *calls, uint stored) {
        QTest::newRow(name) << int(op) << n << error << QString::fromLatin1(calls) << stored;
    };
    row("none", Op::Open, 1, EIO, "erase@20000=0 lseek@20000=20000 write@20000=4 read@20004=4", 0x12345678);
    row("erase", Op::Ioctl, 1, EIO, "erase@20000=e5 lseek@20000=20000 write@20000=4 read@20004=4", 0x5678);
    row("lseek", Op::Lseek, 1, EINVAL, "erase@20000=0 lseek@20000=e22 write@0=4 read@4=4", 0xFFFFFFFF);
    row("write", Op::Write, 1, EINTR, "erase@20000=0 lseek@20000=20000 write@20000=e4 read@20000=4",
        0xFFFFFFFF);
    row("read", Op::Read, 1, EAGAIN, "erase@20000=0 lseek@20000=20000 write@20000=4 read@20004=e11",
        0x12345678);
    row("short write", Op::Write, 2, 0, "erase@20000=0 lseek@20000=20000 write@20000=2 read@20002=4",
        0xFFFF5678);
    row("short read", Op::Read, 1, 0, "erase@20000=0 lseek@20000=20000 write@20000=4 read@20004=1",
        0x12345678);
    row("second write", Op::Write, 2, EIO, "erase@20000=0 lseek@20000=20000 write@20000=4 read@20004=4",
        0x12345678);
}

// A failing call does nothing: no erase, no transfer, the position unmoved.
void tst_SimDevice::flashCallFaults()
{
    QFETCH(int, op);
    QFETCH(uint, n);
    QFETCH(int, error);
    QFETCH(QString, calls);
    QFETCH(uint, stored);
    setFlash(0x20000, word(0x0000FFFF));
    if (error == 0)
        zarnsim::setShortTransfers(zarnsim::Op(op), n);
    else
        zarnsim::failFlashCall(zarnsim::Op(op), n, error);
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    erase(fd, 0x20000);
    ::lseek(fd, 0x20000, SEEK_SET);
    const uint32_t value = 0x12345678;
    ::write(fd, &value, sizeof value);
    char bytes[4];
    ::read(fd, bytes, sizeof bytes);
    ::close(fd);
    QCOMPARE(flashCalls(), calls);
    QCOMPARE(flash(0x20000, 4), word(stored));
}

void tst_SimDevice::flockBelongsToTheOpen_data()
{
    QTest::addColumn<int>("held"); // taken on a first open
    QTest::addColumn<QString>("then");
    QTest::addColumn<int>("wanted"); // then asked for on a second descriptor, without waiting
    QTest::addColumn<int>("error");

    QTest::newRow("exclusive, another open") << LOCK_EX << "open" << LOCK_SH << EWOULDBLOCK;
    QTest::newRow("shared, another open shared") << LOCK_SH << "open" << LOCK_SH << 0;
    QTest::newRow("shared, another open exclusive") << LOCK_SH << "open" << LOCK_EX << EWOULDBLOCK;
    QTest::newRow("exclusive, its dup") << LOCK_EX << "dup" << LOCK_EX << 0;
    QTest::newRow("unlocked") << LOCK_EX << "unlock, open" << LOCK_EX << 0;
    QTest::newRow("closed") << LOCK_EX << "close, open" << LOCK_EX << 0;
    QTest::newRow("closed, its dup open") << LOCK_EX << "dup, close, open" << LOCK_EX << EWOULDBLOCK;
}

// The same in this process alone and on a flash file shared with others,
// where the kernel keeps the locks.
void tst_SimDevice::flockBelongsToTheOpen()
{
    QFETCH(int, held);
    QFETCH(QString, then);
    QFETCH(int, wanted);
    QFETCH(int, error);
    QTemporaryDir dir;
    const std::string path = QFile::encodeName(dir.filePath(QStringLiteral("flash"))).toStdString();
    for (const bool shared : {false, true}) {
        zarnsim::reset();
        QVERIFY(zarnsim::setBackingFile(shared ? path : std::string()));
        std::vector<int> descriptors{openFlash()};
        const int first = descriptors.front();
        QCOMPARE(::flock(first, held | LOCK_NB), 0);
        struct stat node, file;
        QCOMPARE(::fstat(first, &node), 0);
        QCOMPARE(node.st_mode, mode_t(S_IFCHR | 0660));
        QCOMPARE(::stat(path.c_str(), &file) == 0 && file.st_ino == node.st_ino, shared);
        for (const QString &step : then.split(QStringLiteral(", "))) {
            if (step == QLatin1String("dup"))
                descriptors.push_back(::dup(first));
            else if (step == QLatin1String("open"))
                descriptors.push_back(openFlash());
            else if (step == QLatin1String("unlock"))
                ::flock(first, LOCK_UN);
            else if (step == QLatin1String("close"))
                ::close(first);
        }
        if (then.contains(QLatin1String("close")))
            descriptors.erase(descriptors.begin());
        errno = 0;
        QCOMPARE(::flock(descriptors.back(), wanted | LOCK_NB) == 0 ? 0 : errno, error);
        for (const int fd : descriptors)
            ::close(fd);
    }
    const QString other = dir.filePath(QStringLiteral("other"));
    QFile text(other);
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a flash") == 11);
    text.close();
    std::string message;
    QVERIFY(!zarnsim::setBackingFile(QFile::encodeName(other).toStdString(), &message));
    QVERIFY2(message.find("not a simulated flash image") != std::string::npos, message.c_str());
    QVERIFY(text.open(QIODevice::ReadOnly) && text.readAll() == "not a flash");
}

void tst_SimDevice::recordListsEveryCallInOrder()
{
    const int fd = openFlash();
    unlock(fd, "wrong");
    unlock(fd);
    erase(fd, 0x20000);
    ::lseek(fd, 0x20400, SEEK_SET);
    char bytes[1024] = {};
    ::write(fd, bytes, sizeof bytes);
    ::read(fd, bytes, 4);
    const int mailbox = ::open(zarnsim::mailboxPath, O_RDWR);
    MailboxRequest request;
    ask(mailbox, request, 0x201);
    // The answered record sent again with only its command changed: the
    // record keeps the words as the caller sent them.
    request.command = 0x301;
    ::ioctl(mailbox, zarnsim::mailboxIocRequest, &request);
    ::close(mailbox);
    ::close(fd);
    const uint32_t r = zarnsim::mailboxReservedAnswer;
    QVERIFY(zarnsim::record().at(8).mailboxWords == (std::array<uint32_t, 8>{0x201}));
    QVERIFY(zarnsim::record().at(9).mailboxWords ==
            (std::array<uint32_t, 8>{0x301, 1394614800, r, r, r, r, r, r}));
    QCOMPARE(recorded(),
             QStringList({
                 QStringLiteral("flash open flags=0x2 result=%1").arg(fd),
                 QStringLiteral("flash ioctl request=0x40084232 phrase=\"wrong\" result=-1 errno=13"),
                 QStringLiteral("flash ioctl request=0x40084232 phrase=\"heedful!!\" result=0"),
                 QStringLiteral("flash ioctl request=0x4004423c argument=0x20000 result=0"),
                 QStringLiteral("flash lseek address=0x20400 result=132096"),
                 QStringLiteral("flash write address=0x20400 size=1024 result=1024"),
                 QStringLiteral("flash read address=0x20800 size=4 result=4"),
                 QStringLiteral("mailbox open flags=0x2 result=%1").arg(mailbox),
                 QStringLiteral("mailbox ioctl request=0xc008420a command=0x201 result=0"),
                 QStringLiteral(
                     "mailbox ioctl request=0xc008420a command=0x301 value=0x53202210 "
                     "reserved=0xa5a5a5a5,0xa5a5a5a5,0xa5a5a5a5,0xa5a5a5a5,0xa5a5a5a5,0xa5a5a5a5 result=0"),
                 QStringLiteral("mailbox close result=0"),
                 QStringLiteral("flash close result=0"),
             }));
    zarnsim::clearRecord();
    zarnsim::setRecording(false); // as the benchmarks run
    ::close(openFlash());
    QVERIFY(zarnsim::record().empty());
}

void tst_SimDevice::mailboxAnswersAndFlags()
{
    zarnsim::setMailboxAnswers(0xA1, 0xB2, 0xC3);
    zarnsim::setMailboxFlags(0xF);
    QStringList seen;
    for (int round = 0; round < 2; ++round) { // the first answer counts afresh on each descriptor
        const int fd = ::open(zarnsim::mailboxPath, O_RDWR);
        for (uint32_t command : {0x101u, 0x201u, 0x301u, 0x401u}) {
            MailboxRequest request;
            request.command = command;
            // An int request code arrives sign-extended; the device must still know it.
            const int result = ::ioctl(fd, int(zarnsim::mailboxIocRequest), &request);
            seen << (result == 0
                         ? QStringLiteral("%1/%2").arg(request.value, 0, 16).arg(request.command, 0, 16)
                         : QStringLiteral("errno %1").arg(errno));
        }
        ::close(fd);
        zarnsim::setMailboxLaterFlags(0x3);
    }
    QCOMPARE(seen.join(QLatin1Char(' ')),
             QStringLiteral("a1/f b2/201 c3/301 errno 22 a1/f b2/3 c3/3 errno 22"));
}

// The engine's thread uses the device while the window's thread does file I/O.
void tst_SimDevice::deviceThreadBesideQFileThread()
{
    constexpr int rounds = 64;
    constexpr int blockSize = 1024;
    std::atomic<int> deviceErrors{0};
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    std::thread device([&] {
        for (int k = 0; k < rounds; ++k) {
            const QByteArray block(blockSize, char(k));
            if (writeAt(fd, uint32_t(k * blockSize), block) != blockSize ||
                readAt(fd, uint32_t(k * blockSize), blockSize) != block)
                ++deviceErrors;
        }
    });
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("beside")));
    QVERIFY(file.open(QIODevice::ReadWrite));
    for (int k = 0; k < rounds; ++k)
        file.write(QByteArray(blockSize, char(0x80 + k)));
    file.seek(0);
    const QByteArray content = file.readAll();
    device.join();
    QCOMPARE(deviceErrors.load(), 0);
    QCOMPARE(content.size(), rounds * blockSize);
    QCOMPARE(content.at((rounds - 1) * blockSize), char(0x80 + rounds - 1));

    // A closed device number, reused by an ordinary file, passes through.
    ::close(fd);
    const int reused =
        ::open(QFile::encodeName(dir.filePath(QStringLiteral("reused"))).constData(), O_RDWR | O_CREAT, 0600);
    QCOMPARE(reused, fd);
    QCOMPARE(::write(reused, "xyz", 3), ssize_t(3));
    ::close(reused);
    // Only the device's own calls are in the record.
    QCOMPARE(int(zarnsim::record().size()), 1 + 1 + rounds * 4 + 1);
}

QTEST_GUILESS_MAIN(tst_SimDevice)
#include "tst_simdevice.moc"
