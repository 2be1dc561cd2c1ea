// The simulated device where the tests of the real program lean on it: one
// flash shared between processes, locked between them as the real node is,
// and settings from the environment, which it reports when it cannot read
// them. The product's own tests show the rest of it.

#include "runkit.h"

#include <csignal>
#include <QTemporaryDir>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

class SimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { zarnsim::reset(); }
    void sharedFlashLockedBetweenProcesses();
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
