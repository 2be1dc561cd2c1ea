// The simulated device through the real system calls, as the utility sees it.

#include "zarnsim.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QTest>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char phrase[] = "heedful!!";
constexpr uint32_t page = zarnsim::flashPageSize;

int openFlash(int flags = O_RDWR)
{
    return ::open(zarnsim::flashPath, flags);
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

QByteArray filled(int length, char value)
{
    return QByteArray(length, value);
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

bool isRegularFile(const char *path)
{
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

Q_DECLARE_METATYPE(zarnsim::Node)

class tst_SimDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();

    void programmingIsAnd_data();
    void programmingIsAnd();
    void eraseCoversOnePageFromAnyAddress_data();
    void eraseCoversOnePageFromAnyAddress();
    void lockedDeviceProgramsNothing();
    void unlockWantsTheExactPhrase_data();
    void unlockWantsTheExactPhrase();
    void transfersAdvanceThePosition();
    void nothingWrapsPastTheEnd();
    void accessModeIsHonoured();
    void duplicatesShareThePosition();
    void closedNumbersPassThrough();
    void errnoChangesOnlyOnFailure();

    void missingOrForbiddenNode_data();
    void missingOrForbiddenNode();
    void unlockRefused();
    void eraseFailsAtAddress();
    void eraseFailsAtNthRequest();
    void stuckBitsSurviveErase();
    void weakWordHoldsOnItsNthWrite();
    void losingWordHealsAfterPageRewrite();

    void recordListsEveryCallInOrder();
    void recordingCanBeSwitchedOff();
    void busyTimeIsAccounted();
    void backingFileKeepsTheFlash();

    void mailboxAnswers_data();
    void mailboxAnswers();
    void mailboxFlagsFollowOnlyTheFirstAnswer();
    void mailboxLaterFlags();
    void mailboxRecordsTheWordsAsSent();
    void mailboxFailsAtNthRequest();

    void qtCoreCallsReachTheDevice();
    void deviceThreadBesideQFileThread();
    void environment_data();
    void environment();
};

void tst_SimDevice::init()
{
    zarnsim::reset();
}

void tst_SimDevice::cleanupTestCase()
{
    // The shim must never leave a file where the driver's nodes belong.
    QVERIFY(!isRegularFile(zarnsim::flashPath));
    QVERIFY(!isRegularFile(zarnsim::mailboxPath));
}

void tst_SimDevice::programmingIsAnd_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("erased takes any value") << word(0xFFFFFFFF) << word(0x12345678) << word(0x12345678);
    QTest::newRow("ones stay where zeros are") << word(0x0F0F0F0F) << word(0xFFFFFFFF) << word(0x0F0F0F0F);
    QTest::newRow("bits only clear") << word(0x12345678) << word(0x87654321) << word(0x02244220);
    QTest::newRow("zero stays zero") << word(0) << word(0xFFFFFFFF) << word(0);
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
    QVERIFY(fd >= 0);
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(writeAt(fd, address, written), ssize_t(written.size()));
    QCOMPARE(readAt(fd, address, after.size()), after);
    QCOMPARE(flash(address - 1, 1), filled(1, '\xFF'));
    QCOMPARE(flash(address + uint32_t(after.size()), 1), filled(1, '\xFF'));
    ::close(fd);
}

void tst_SimDevice::eraseCoversOnePageFromAnyAddress_data()
{
    QTest::addColumn<uint32_t>("address");
    QTest::addColumn<uint32_t>("erased"); // bytes that the erase may reach

    QTest::newRow("on a page boundary") << 0x40000u << page;
    QTest::newRow("off a page boundary") << 0x41234u << page;
    QTest::newRow("odd address") << 0x7u << page;
    QTest::newRow("last page") << 0xFFFE0000u << page;
    QTest::newRow("cut by the end of the space") << 0xFFFF0000u << 0x10000u;
}

void tst_SimDevice::eraseCoversOnePageFromAnyAddress()
{
    QFETCH(uint32_t, address);
    QFETCH(uint32_t, erased);
    // Programmed bytes on both sides and across the whole page, and at
    // address 0 to catch a wrap past the end.
    const QByteArray zeros = filled(int(page) + 8, '\0');
    setFlash(address - 4,
             zeros.left(int(std::min<uint64_t>(zeros.size(), (uint64_t(1) << 32) - address + 4))));
    setFlash(0, filled(16, '\0'));
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(erase(fd, address), 0);
    QCOMPARE(flash(address, erased), filled(int(erased), '\xFF'));
    QCOMPARE(flash(address - 4, 4), filled(4, '\0'));
    if (erased == page)
        QCOMPARE(flash(address + page, 4), filled(4, '\0'));
    QCOMPARE(flash(0, 4), filled(4, '\0'));
    ::close(fd);
}

void tst_SimDevice::lockedDeviceProgramsNothing()
{
    setFlash(0x20000, filled(8, '\x55'));
    const int fd = openFlash();
    QVERIFY(!zarnsim::unlocked());
    errno = 0;
    QCOMPARE(writeAt(fd, 0x1000, word(0)), ssize_t(-1));
    QCOMPARE(errno, EPERM);
    QCOMPARE(erase(fd, 0x20000), -1);
    QCOMPARE(errno, EPERM);
    QCOMPARE(flash(0x1000, 4), word(0xFFFFFFFF));
    QCOMPARE(flash(0x20000, 8), filled(8, '\x55'));
    QCOMPARE(readAt(fd, 0x20000, 8), filled(8, '\x55'));
    ::close(fd);
}

void tst_SimDevice::unlockWantsTheExactPhrase_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("the phrase") << QByteArray(phrase) << true;
    QTest::newRow("one character short") << QByteArray("heedful!") << false;
    QTest::newRow("capital") << QByteArray("Heedful!!") << false;
    QTest::newRow("trailing blank") << QByteArray("heedful!! ") << false;
    QTest::newRow("empty") << QByteArray("") << false;
}

void tst_SimDevice::unlockWantsTheExactPhrase()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    const int fd = openFlash();
    errno = 0;
    QCOMPARE(unlock(fd, text.constData()), accepted ? 0 : -1);
    QCOMPARE(zarnsim::unlocked(), accepted);
    if (!accepted)
        QVERIFY(errno != 0);
    QCOMPARE(zarnsim::record().back().phrase, text.toStdString());
    ::close(fd);
}

void tst_SimDevice::transfersAdvanceThePosition()
{
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    const QByteArray block(1024, '\x11');
    QCOMPARE(writeAt(fd, 0x100, block), ssize_t(1024));
    QCOMPARE(::write(fd, "\x22\x22\x22\x22", 4), ssize_t(4));
    QCOMPARE(::lseek(fd, 0, SEEK_CUR), off_t(0x100 + 1028));
    QCOMPARE(flash(0x100 + 1024, 4), filled(4, '\x22'));

    char bytes[4];
    ::lseek(fd, 0x100 + 1022, SEEK_SET);
    QCOMPARE(::read(fd, bytes, 4), ssize_t(4));
    QCOMPARE(QByteArray(bytes, 4), QByteArray("\x11\x11\x22\x22"));
    QCOMPARE(::read(fd, bytes, 4), ssize_t(4));
    QCOMPARE(QByteArray(bytes, 4), QByteArray("\x22\x22\xFF\xFF"));
    // pread and pwrite act at their own offset and leave the position alone.
    QCOMPARE(::pread(fd, bytes, 4, 0x100), ssize_t(4));
    QCOMPARE(::lseek(fd, 0, SEEK_CUR), off_t(0x100 + 1030));
    ::close(fd);
}

void tst_SimDevice::nothingWrapsPastTheEnd()
{
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(::lseek(fd, 0xFFFFFFFE, SEEK_SET), off_t(0xFFFFFFFE));
    QCOMPARE(::write(fd, "\0\0\0\0", 4), ssize_t(2));
    QCOMPARE(flash(0xFFFFFFFE, 2), filled(2, '\0'));
    QCOMPARE(flash(0, 2), filled(2, '\xFF'));
    errno = 0;
    QCOMPARE(::write(fd, "\0", 1), ssize_t(-1));
    QCOMPARE(errno, ENOSPC);
    char bytes[4];
    QCOMPARE(::read(fd, bytes, 4), ssize_t(0));
    ::lseek(fd, 0xFFFFFFFC, SEEK_SET);
    QCOMPARE(::read(fd, bytes, 4), ssize_t(4));
    QCOMPARE(QByteArray(bytes, 4), QByteArray("\xFF\xFF\0\0", 4));
    QCOMPARE(::lseek(fd, off_t(0x100000001), SEEK_SET), off_t(-1));
    QCOMPARE(errno, EINVAL);
    QCOMPARE(::lseek(fd, -1, SEEK_SET), off_t(-1));
    ::close(fd);
}

void tst_SimDevice::accessModeIsHonoured()
{
    const int readOnly = openFlash(O_RDONLY);
    QCOMPARE(unlock(readOnly), 0);
    QCOMPARE(writeAt(readOnly, 0, word(0)), ssize_t(-1));
    QCOMPARE(errno, EBADF);
    QCOMPARE(flash(0, 4), word(0xFFFFFFFF));
    const int writeOnly = openFlash(O_WRONLY);
    char bytes[4];
    QCOMPARE(::read(writeOnly, bytes, 4), ssize_t(-1));
    QCOMPARE(errno, EBADF);
    QCOMPARE(::fcntl(writeOnly, F_GETFL) & O_ACCMODE, O_WRONLY);
    ::close(readOnly);
    ::close(writeOnly);
}

void tst_SimDevice::duplicatesShareThePosition()
{
    const int fd = openFlash();
    const int copy = ::dup(fd);
    QVERIFY(copy >= 0 && copy != fd);
    ::lseek(fd, 0x5000, SEEK_SET);
    QCOMPARE(::lseek(copy, 0, SEEK_CUR), off_t(0x5000));
    const int third = ::fcntl(copy, F_DUPFD_CLOEXEC, 0);
    ::close(fd);
    ::close(copy);
    QCOMPARE(::lseek(third, 0, SEEK_CUR), off_t(0x5000));

    // dup2 onto an emulated number replaces it with the ordinary descriptor.
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::ReadWrite));
    QCOMPARE(::dup2(plain.handle(), third), third);
    QCOMPARE(::write(third, "abc", 3), ssize_t(3));
    ::close(third);
    QVERIFY(plain.seek(0));
    QCOMPARE(plain.readAll(), QByteArray("abc"));
    QCOMPARE(recorded().filter(QStringLiteral("write")), QStringList());
}

void tst_SimDevice::closedNumbersPassThrough()
{
    const int fd = openFlash();
    QCOMPARE(::close(fd), 0);
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("reused")).toLocal8Bit();
    // The lowest free number is the one just closed.
    const int reused = ::open(path.constData(), O_RDWR | O_CREAT, 0600);
    QCOMPARE(reused, fd);
    QCOMPARE(::write(reused, "xyz", 3), ssize_t(3));
    QCOMPARE(::lseek(reused, 0, SEEK_SET), off_t(0));
    char bytes[3];
    QCOMPARE(::read(reused, bytes, 3), ssize_t(3));
    ::close(reused);
    QCOMPARE(QByteArray(bytes, 3), QByteArray("xyz"));
    QCOMPARE(recorded(), QStringList() << QStringLiteral("flash open flags=0x2 result=%1").arg(fd)
                                       << QStringLiteral("flash close result=0"));
}

void tst_SimDevice::errnoChangesOnlyOnFailure()
{
    errno = 1234;
    const int fd = openFlash();
    QVERIFY(fd >= 0);
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(writeAt(fd, 0, word(0)), ssize_t(4));
    QCOMPARE(readAt(fd, 0, 4), word(0));
    QCOMPARE(erase(fd, 0), 0);
    QCOMPARE(::close(fd), 0);
    QCOMPARE(errno, 1234);
}

void tst_SimDevice::missingOrForbiddenNode_data()
{
    QTest::addColumn<zarnsim::Node>("node");
    QTest::addColumn<int>("error");

    QTest::newRow("flash missing") << zarnsim::Node::Flash << ENOENT;
    QTest::newRow("flash not permitted") << zarnsim::Node::Flash << EACCES;
    QTest::newRow("mailbox missing") << zarnsim::Node::Mailbox << ENOENT;
    QTest::newRow("mailbox not permitted") << zarnsim::Node::Mailbox << EACCES;
}

void tst_SimDevice::missingOrForbiddenNode()
{
    QFETCH(zarnsim::Node, node);
    QFETCH(int, error);
    zarnsim::setNodeError(node, error);
    const bool flashFails = node == zarnsim::Node::Flash;
    errno = 0;
    const int flashFd = ::open(zarnsim::flashPath, O_RDWR | O_CREAT, 0644);
    QCOMPARE(flashFd < 0, flashFails);
    if (flashFails)
        QCOMPARE(errno, error);
    errno = 0;
    const int mailboxFd = ::open(zarnsim::mailboxPath, O_RDWR);
    QCOMPARE(mailboxFd < 0, !flashFails);
    if (!flashFails)
        QCOMPARE(errno, error);
    ::close(flashFd >= 0 ? flashFd : mailboxFd);
    QVERIFY(!isRegularFile(zarnsim::flashPath));
}

void tst_SimDevice::unlockRefused()
{
    zarnsim::setUnlockRefused(true);
    const int fd = openFlash();
    QCOMPARE(unlock(fd), -1);
    QVERIFY(!zarnsim::unlocked());
    QCOMPARE(writeAt(fd, 0, word(0)), ssize_t(-1));
    ::close(fd);
}

void tst_SimDevice::eraseFailsAtAddress()
{
    zarnsim::failEraseAt(0x20000);
    setFlash(0x20000, filled(4, '\0'));
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(erase(fd, 0x20000), -1);
    QCOMPARE(errno, EIO);
    QCOMPARE(flash(0x20000, 4), filled(4, '\0'));
    QCOMPARE(erase(fd, 0x20000), -1);
    QCOMPARE(erase(fd, 0x20004), 0); // another address of the same page works
    QCOMPARE(erase(fd, 0x40000), 0);
    ::close(fd);
}

void tst_SimDevice::eraseFailsAtNthRequest()
{
    zarnsim::failEraseRequest(3);
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QList<int> results;
    for (uint32_t k = 0; k < 5; ++k)
        results << erase(fd, k * page);
    QCOMPARE(results, QList<int>({0, 0, -1, 0, 0}));
    ::close(fd);
}

void tst_SimDevice::stuckBitsSurviveErase()
{
    zarnsim::addStuckBits(0x30001, 0x81);
    QCOMPARE(flash(0x30000, 3), QByteArray("\xFF\x7E\xFF"));
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    QCOMPARE(writeAt(fd, 0x30000, word(0xFFFFFFFF)), ssize_t(4));
    QCOMPARE(readAt(fd, 0x30001, 1), QByteArray("\x7E"));
    QCOMPARE(erase(fd, 0x30000), 0);
    QCOMPARE(readAt(fd, 0x30000, 2), QByteArray("\xFF\x7E"));
    ::close(fd);
}

void tst_SimDevice::weakWordHoldsOnItsNthWrite()
{
    zarnsim::addWeakWord(0x40400, 3);
    const int fd = openFlash();
    QCOMPARE(unlock(fd), 0);
    const QByteArray block(1024, '\x5A');
    QCOMPARE(writeAt(fd, 0x40000, QByteArray(1024, '\x5A')), ssize_t(1024));
    QCOMPARE(writeAt(fd, 0x40400, block), ssize_t(1024)); // attempt 1: the word stays erased
    QCOMPARE(flash(0x403FC, 12), filled(4, '\x5A') + word(0xFFFFFFFF) + filled(4, '\x5A'));
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
    // Erases before the first write do not heal it.
    QCOMPARE(erase(fd, 0x60000), 0);
    QCOMPARE(writeAt(fd, 0x60010, word(0x12345778)), ssize_t(4));
    QCOMPARE(flash(0x60010, 4), word(0x12345678));
    QCOMPARE(writeAt(fd, 0x60010, word(0x12345778)), ssize_t(4));
    QCOMPARE(flash(0x60010, 4), word(0x12345678));
    QCOMPARE(erase(fd, 0x60000), 0);
    QCOMPARE(writeAt(fd, 0x60000, filled(0x10, '\xFF') + word(0x12345778)), ssize_t(0x14));
    QCOMPARE(flash(0x60010, 4), word(0x12345778));
    ::close(fd);
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
    ::close(mailbox);
    ::close(fd);
    const QString f = QString::number(fd);
    const QString m = QString::number(mailbox);
    QCOMPARE(recorded(),
             QStringList({
                 QStringLiteral("flash open flags=0x2 result=") + f,
                 QStringLiteral("flash ioctl request=0x40084232 phrase=\"wrong\" result=-1 errno=13"),
                 QStringLiteral("flash ioctl request=0x40084232 phrase=\"heedful!!\" result=0"),
                 QStringLiteral("flash ioctl request=0x4004423c argument=0x20000 result=0"),
                 QStringLiteral("flash lseek address=0x20400 result=132096"),
                 QStringLiteral("flash write address=0x20400 size=1024 result=1024"),
                 QStringLiteral("flash read address=0x20800 size=4 result=4"),
                 QStringLiteral("mailbox open flags=0x2 result=") + m,
                 QStringLiteral("mailbox ioctl request=0xc008420a command=0x201 result=0"),
                 QStringLiteral("mailbox close result=0"),
                 QStringLiteral("flash close result=0"),
             }));
    const auto calls = zarnsim::record();
    QCOMPARE(calls.at(3).argument, uint64_t(0x20000));
    QCOMPARE(calls.at(5).size, uint64_t(1024));
    zarnsim::clearRecord();
    QVERIFY(zarnsim::record().empty());
}

void tst_SimDevice::recordingCanBeSwitchedOff()
{
    zarnsim::setRecording(false);
    const int fd = openFlash();
    unlock(fd);
    ::close(fd);
    QVERIFY(zarnsim::record().empty());
    QVERIFY(zarnsim::unlocked());
}

void tst_SimDevice::busyTimeIsAccounted()
{
    zarnsim::setSleeping(false);
    zarnsim::setTiming({1000, 100, 10, 7});
    const int fd = openFlash();
    unlock(fd);
    erase(fd, 0);
    writeAt(fd, 0, QByteArray(2048, '\0')); // 2 KiB programmed: 200 us
    writeAt(fd, 0, word(0));                // a single word: 7 us
    readAt(fd, 0, 512);                     // half a KiB read: 5 us
    readAt(fd, 0, 4);                       // a single word: 7 us
    ::close(fd);
    QCOMPARE(zarnsim::busyNanoseconds(), uint64_t((1000 + 200 + 7 + 5 + 7) * 1000));
    zarnsim::resetBusy();
    QCOMPARE(zarnsim::busyNanoseconds(), uint64_t(0));

    const auto nor = zarnsim::timingProfile("nor");
    QCOMPARE(nor.pageEraseUs, 200000u);
    QCOMPARE(nor.programPerKiBUs, 400u);
    QCOMPARE(nor.readPerKiBUs, 10u);
    QCOMPARE(nor.singleWordUs, 20u);
    QCOMPARE(zarnsim::timingProfile("fast").pageEraseUs, 20000u);
    QCOMPARE(zarnsim::timingProfile("zero").pageEraseUs, 0u);
}

void tst_SimDevice::backingFileKeepsTheFlash()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("flash.img")).toStdString();
    QVERIFY(zarnsim::setBackingFile(path));
    const int fd = openFlash();
    unlock(fd);
    writeAt(fd, 0xABCDE0, word(0x01020304));
    ::close(fd);
    QVERIFY(QFile::exists(QString::fromStdString(path)));

    zarnsim::reset();
    QCOMPARE(flash(0xABCDE0, 4), word(0xFFFFFFFF));
    QVERIFY(zarnsim::setBackingFile(path));
    QCOMPARE(flash(0xABCDE0, 4), word(0x01020304));
    QVERIFY(!zarnsim::unlocked());

    QFile junk(dir.filePath(QStringLiteral("junk")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a flash image");
    junk.close();
    std::string error;
    QVERIFY(!zarnsim::setBackingFile(junk.fileName().toStdString(), &error));
    QVERIFY(!error.empty());
    QCOMPARE(flash(0xABCDE0, 4), word(0xFFFFFFFF));
    const int again = openFlash();
    unlock(again);
    writeAt(again, 0, word(0));
    ::close(again);
    QVERIFY(zarnsim::flushBackingFile());
    QVERIFY(junk.open(QIODevice::ReadOnly));
    QCOMPARE(junk.readAll(), QByteArray("not a flash image"));
}

void tst_SimDevice::mailboxAnswers_data()
{
    QTest::addColumn<uint32_t>("command");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint32_t>("value");

    QTest::newRow("software version") << 0x101u << 0 << 0xA1u;
    QTest::newRow("hardware timestamp") << 0x201u << 0 << 0xB2u;
    QTest::newRow("PID version") << 0x301u << 0 << 0xC3u;
    QTest::newRow("unknown command") << 0x401u << -1 << 0u;
    QTest::newRow("command with extra bits") << 0x1101u << -1 << 0u;
}

void tst_SimDevice::mailboxAnswers()
{
    QFETCH(uint32_t, command);
    QFETCH(int, result);
    QFETCH(uint32_t, value);
    zarnsim::setMailboxAnswers(0xA1, 0xB2, 0xC3);
    const int fd = ::open(zarnsim::mailboxPath, O_RDWR);
    QVERIFY(fd >= 0);
    MailboxRequest request;
    request.command = command;
    // An int request code arrives sign-extended; the device must still know it.
    QCOMPARE(::ioctl(fd, int(zarnsim::mailboxIocRequest), &request), result);
    QCOMPARE(request.value, value);
    if (result < 0)
        QCOMPARE(errno, EINVAL);
    QCOMPARE(zarnsim::record().back().command, command);
    QCOMPARE(::ioctl(fd, zarnsim::flashIocUnlock, phrase), -1);
    QCOMPARE(errno, ENOTTY);
    ::close(fd);
}

void tst_SimDevice::mailboxFlagsFollowOnlyTheFirstAnswer()
{
    MailboxRequest request;
    int fd = ::open(zarnsim::mailboxPath, O_RDWR);
    QCOMPARE(ask(fd, request, 0x101), 0);
    QCOMPARE(request.value, 0x04030201u); // the default answers
    QCOMPARE(ask(fd, request, 0x201), 0);
    QCOMPARE(request.value, 1394614800u);
    QCOMPARE(ask(fd, request, 0x301), 0);
    QCOMPARE(request.value, 0x00020301u);
    ::close(fd);

    zarnsim::setMailboxFlags(0xF);
    fd = ::open(zarnsim::mailboxPath, O_RDWR);
    QCOMPARE(ask(fd, request, 0x101), 0);
    QCOMPARE(request.command, 0xFu);
    QCOMPARE(ask(fd, request, 0x201), 0);
    QCOMPARE(request.command, 0x201u);
    ::close(fd);
}

void tst_SimDevice::mailboxLaterFlags()
{
    zarnsim::setMailboxFlags(0x1);
    zarnsim::setMailboxLaterFlags(0xF);
    MailboxRequest request;
    QStringList commands;
    for (int round = 0; round < 2; ++round) { // counted afresh on each descriptor
        const int fd = ::open(zarnsim::mailboxPath, O_RDWR);
        for (uint32_t command : {0x101u, 0x201u, 0x301u}) {
            QCOMPARE(ask(fd, request, command), 0);
            commands << QString::number(request.command, 16);
        }
        ::close(fd);
    }
    QCOMPARE(commands.join(QLatin1Char(' ')), QStringLiteral("1 f f 1 f f"));
}

void tst_SimDevice::mailboxRecordsTheWordsAsSent()
{
    const int fd = ::open(zarnsim::mailboxPath, O_RDWR);
    MailboxRequest request;
    QCOMPARE(ask(fd, request, 0x101), 0);
    for (uint32_t word : request.reserved)
        QCOMPARE(word, zarnsim::mailboxReservedAnswer);
    // The answered record sent again with only its command changed.
    request.command = 0x201;
    QCOMPARE(::ioctl(fd, zarnsim::mailboxIocRequest, &request), 0);
    ::close(fd);

    const auto calls = zarnsim::record();
    QCOMPARE(int(calls.size()), 4);
    const std::array<uint32_t, 8> clean{0x101};
    QVERIFY(calls[1].mailboxWords == clean);
    const uint32_t r = zarnsim::mailboxReservedAnswer;
    const std::array<uint32_t, 8> reused{0x201, 0x04030201, r, r, r, r, r, r};
    QVERIFY(calls[2].mailboxWords == reused);
    QCOMPARE(recorded().mid(1, 2),
             QStringList({QStringLiteral("mailbox ioctl request=0xc008420a command=0x101 result=0"),
                          QStringLiteral("mailbox ioctl request=0xc008420a command=0x201 value=0x4030201 "
                                         "reserved=0xa5a5a5a5,0xa5a5a5a5,0xa5a5a5a5,0xa5a5a5a5,0xa5a5a5a5,"
                                         "0xa5a5a5a5 result=0")}));
}

void tst_SimDevice::mailboxFailsAtNthRequest()
{
    zarnsim::failMailboxRequest(2, EIO);
    const int fd = ::open(zarnsim::mailboxPath, O_RDWR);
    MailboxRequest request;
    QCOMPARE(ask(fd, request, 0x101), 0);
    QCOMPARE(ask(fd, request, 0x201), -1);
    QCOMPARE(errno, EIO);
    QCOMPARE(request.value, 0u);
    QCOMPARE(ask(fd, request, 0x301), 0);
    ::close(fd);
}

void tst_SimDevice::qtCoreCallsReachTheDevice()
{
    // QFile wraps a descriptor opened here; its reads are made inside
    // libQt5Core and must still reach the device.
    setFlash(0x2000, QByteArray("qt core"));
    const int fd = openFlash(O_RDONLY);
    QFile file;
    ::lseek(fd, 0x2000, SEEK_SET);
    // A character device: Qt takes it as sequential and reads on from there.
    QVERIFY(file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle));
    QCOMPARE(file.read(7), QByteArray("qt core"));
    file.close();
    ::close(fd);
    const QStringList lines = recorded();
    QVERIFY2(lines.contains(QStringLiteral("flash read address=0x2000 size=7 result=7")),
             qPrintable(lines.join('\n')));
}

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
    ::close(fd);
    QCOMPARE(deviceErrors.load(), 0);
    QCOMPARE(content.size(), rounds * blockSize);
    QCOMPARE(content.at((rounds - 1) * blockSize), char(0x80 + rounds - 1));
    // Only the device's own calls are in the record.
    QCOMPARE(int(zarnsim::record().size()), 1 + 1 + rounds * 4 + 1);
    QCOMPARE(flash(uint32_t((rounds - 1) * blockSize), 1), QByteArray(1, char(rounds - 1)));
}

void tst_SimDevice::environment_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *variable, const char *value, const char *probe,
                        const char *expected) {
        QTest::newRow(name) << QByteArray(variable) << QByteArray(value) << QString::fromLatin1(probe)
                            << QString::fromLatin1(expected);
    };
    const char defaults[] = "answers 4030201 53202210 20301 flags 0";

    row("nothing set", "ZARNSIM_UNUSED", "1", "state",
        qPrintable(QStringLiteral("flash ok, mailbox ok, unlock 0, erase 0, ") + defaults));
    row("flash missing", "ZARNSIM_MISSING", "flash", "state",
        qPrintable(QStringLiteral("flash 2, mailbox ok, unlock -, erase -, ") + defaults));
    row("both missing", "ZARNSIM_MISSING", "both", "state",
        "flash 2, mailbox 2, unlock -, erase -, answers - - - flags -");
    row("mailbox forbidden", "ZARNSIM_MAILBOX_ERROR", "EACCES", "state",
        "flash ok, mailbox 13, unlock 0, erase 0, answers - - - flags -");
    row("flash errno number", "ZARNSIM_FLASH_ERROR", "19", "state",
        qPrintable(QStringLiteral("flash 19, mailbox ok, unlock -, erase -, ") + defaults));
    row("unlock refused", "ZARNSIM_UNLOCK_REFUSED", "1", "state",
        qPrintable(QStringLiteral("flash ok, mailbox ok, unlock -1, erase -1, ") + defaults));
    row("erase fails at", "ZARNSIM_ERASE_FAIL_AT", "0x40000,0x20000", "state",
        qPrintable(QStringLiteral("flash ok, mailbox ok, unlock 0, erase -1, ") + defaults));
    row("first erase fails", "ZARNSIM_ERASE_FAIL_REQUEST", "1", "state",
        qPrintable(QStringLiteral("flash ok, mailbox ok, unlock 0, erase -1, ") + defaults));
    row("answers", "ZARNSIM_MAILBOX_ANSWERS", "0x10,20,0xFFFFFFFF", "state",
        "flash ok, mailbox ok, unlock 0, erase 0, answers 10 14 ffffffff flags 0");
    row("flags", "ZARNSIM_MAILBOX_FLAGS", "0xF", "state",
        "flash ok, mailbox ok, unlock 0, erase 0, answers 4030201 53202210 20301 flags f");
    row("later flags", "ZARNSIM_MAILBOX_LATER_FLAGS", "0xF", "commands", "0 f f");
    row("mailbox fails", "ZARNSIM_MAILBOX_FAIL", "2:EACCES", "state",
        "flash ok, mailbox ok, unlock 0, erase 0, answers 4030201 - 20301 flags 0");
    row("no fault", "ZARNSIM_UNUSED", "1", "word", "ffffff01");
    row("stuck bits", "ZARNSIM_STUCK_BITS", "0x20000:0x0F", "word", "ffffff00");
    row("weak word", "ZARNSIM_WEAK_WORDS", "0x20000:2", "word", "ffffffff");
    row("losing word", "ZARNSIM_LOSING_WORDS", "0x20000:0x100", "word", "fffffe01");
    row("nor timing", "ZARNSIM_TIMING", "nor", "busy", "200000000");
    row("own timing", "ZARNSIM_TIMING", "5,0,0,0", "busy", "5000");
    row("bad profile", "ZARNSIM_TIMING", "slow", "problems", "1");
    row("bad answers", "ZARNSIM_MAILBOX_ANSWERS", "1,2", "problems", "1");
    row("bad later flags", "ZARNSIM_MAILBOX_LATER_FLAGS", "0x100000000", "problems", "1");
    row("bad pair", "ZARNSIM_WEAK_WORDS", "0x20000", "problems", "1");
    row("bad errno", "ZARNSIM_FLASH_ERROR", "ENOPE", "problems", "1");
}

void tst_SimDevice::environment()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);
    QFETCH(QString, probe);
    QFETCH(QString, expected);
    zarnsim::setSleeping(false);
    qputenv(variable.constData(), value);
    const auto problems = zarnsim::configureFromEnvironment();
    qunsetenv(variable.constData());

    const auto code = [](long result) { return result < 0 ? QString::number(errno) : QStringLiteral("ok"); };
    QString seen;
    if (probe == QLatin1String("problems")) {
        seen = QString::number(problems.size());
    } else if (probe == QLatin1String("word") || probe == QLatin1String("busy")) {
        const int fd = openFlash();
        unlock(fd);
        erase(fd, 0x20000);
        if (probe == QLatin1String("word")) {
            writeAt(fd, 0x20000, word(0xFFFFFF01));
            seen = QString::number(qFromLittleEndian<quint32>(readAt(fd, 0x20000, 4).constData()), 16);
        } else {
            seen = QString::number(zarnsim::busyNanoseconds());
        }
        ::close(fd);
    } else if (probe == QLatin1String("commands")) {
        const int mailbox = ::open(zarnsim::mailboxPath, O_RDWR);
        QStringList commands;
        for (uint32_t command : {0x101u, 0x201u, 0x301u}) {
            MailboxRequest request;
            commands << (ask(mailbox, request, command) == 0 ? QString::number(request.command, 16)
                                                             : QStringLiteral("-"));
        }
        ::close(mailbox);
        seen = commands.join(QLatin1Char(' '));
    } else {
        const int fd = openFlash();
        QStringList parts{QStringLiteral("flash ") +
                          (fd < 0 ? QString::number(errno) : QStringLiteral("ok"))};
        const int mailbox = ::open(zarnsim::mailboxPath, O_RDWR);
        parts << QStringLiteral("mailbox ") + code(mailbox);
        parts << QStringLiteral("unlock ") + (fd < 0 ? QStringLiteral("-") : QString::number(unlock(fd)));
        parts << QStringLiteral("erase ") +
                     (fd < 0 ? QStringLiteral("-") : QString::number(erase(fd, 0x20000)));
        QStringList answers;
        QString flags = QStringLiteral("-");
        for (uint32_t command : {0x101u, 0x201u, 0x301u}) {
            MailboxRequest request;
            const bool ok = mailbox >= 0 && ask(mailbox, request, command) == 0;
            answers << (ok ? QString::number(request.value, 16) : QStringLiteral("-"));
            if (ok && command == 0x101u)
                flags = QString::number(request.command, 16);
        }
        parts << QStringLiteral("answers ") + answers.join(QLatin1Char(' ')) + QStringLiteral(" flags ") +
                     flags;
        seen = parts.join(QStringLiteral(", "));
        ::close(fd);
        ::close(mailbox);
    }
    QCOMPARE(seen, expected);
    QCOMPARE(int(problems.size()), probe == QLatin1String("problems") ? expected.toInt() : 0);
}

QTEST_GUILESS_MAIN(tst_SimDevice)
#include "tst_simdevice.moc"
