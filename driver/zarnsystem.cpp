#include "zarnsystem.h"

#include "zarndriver.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <QDebug>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The request (read and write, type 0x42, number 0x0A, size field 8): the
// driver takes the whole record behind the address whatever the size field says.
using zarndriver::mailboxIocRequest;
using zarndriver::mailboxPath;

const uint32_t commandSwVersion = 0x00000101;
const uint32_t commandHwTimestamp = 0x00000201;
const uint32_t commandPidVersion = 0x00000301;

// When the driver leaves all of these set in the first answer's command word,
// it has no versions to give, and these values stand in for all three.
const uint32_t noAnswerFlags = 0xF;
const uint32_t fixedSwVersion = 0x00090000;
const uint32_t fixedHwTimestamp = 1406615411;
const uint32_t fixedPidVersion = 0x00090000;

struct mailboxRequest
{
    uint32_t command;
    uint32_t value;
    uint32_t reserved[6];
};
static_assert(sizeof(mailboxRequest) == 32, "the driver expects a 32-byte record");

struct installedVersions
{
    uint32_t swVersion = 0;
    uint32_t hwTimestamp = 0;
    uint32_t pidVersion = 0;
    bool swKnown = false;
    bool hwKnown = false;
    bool pidKnown = false;
};

// The driver flags an answer that holds no value by leaving the low bits of
// the command word set.
bool holdsValue(const mailboxRequest &answer)
{
    return (answer.command & noAnswerFlags) != noAnswerFlags;
}

// The driver may write anywhere in the record, so every request starts from a
// clean one.
int ask(int device, mailboxRequest &request, uint32_t command)
{
    request = mailboxRequest{};
    request.command = command;
    return ::ioctl(device, mailboxIocRequest, &request);
}

// Returns the first failing request's result, or 0 with all three answers.
int askAll(int device, installedVersions &versions)
{
    mailboxRequest request;
    int result = ask(device, request, commandSwVersion);
    if (result < 0)
        return result;
    if (!holdsValue(request)) {
        versions.swVersion = fixedSwVersion;
        versions.hwTimestamp = fixedHwTimestamp;
        versions.pidVersion = fixedPidVersion;
        return 0;
    }
    versions.swVersion = request.value;
    versions.swKnown = true;

    // The later answers' flags change nothing of what is shown, but a value
    // the driver does not vouch for is not one to judge an update by.
    result = ask(device, request, commandHwTimestamp);
    if (result < 0)
        return result;
    versions.hwTimestamp = request.value;
    versions.hwKnown = holdsValue(request);

    result = ask(device, request, commandPidVersion);
    if (result < 0)
        return result;
    versions.pidVersion = request.value;
    versions.pidKnown = holdsValue(request);
    return 0;
}

// Least significant byte first, and the last two bytes run together:
// 0x04030201 reads 1.2.34.
QString dotted(uint32_t word)
{
    const auto byte = [word](int index) { return QString::number((word >> (8 * index)) & 0xFFu); };
    return byte(0) + QLatin1Char('.') + byte(1) + QLatin1Char('.') + byte(2) + byte(3);
}

} // namespace

ZARNsystem::Versions ZARNsystem::query()
{
    Versions answer;
    const int device = ::open(mailboxPath, O_RDWR);
    if (device < 0) {
        answer.error = errno;
        qDebug() << "Could not open file";
        return answer;
    }

    answer.opened = true;
    installedVersions versions;
    answer.status = askAll(device, versions);
    if (answer.status < 0) {
        answer.error = errno;
        ::close(device);
        return answer;
    }
    answer.hwTimestampWord = versions.hwTimestamp;
    answer.swKnown = versions.swKnown;
    answer.hwKnown = versions.hwKnown;
    answer.pidKnown = versions.pidKnown;
    answer.swVersion = dotted(versions.swVersion);
    answer.hwTimestamp = QString::number(versions.hwTimestamp);
    answer.pidVersion = dotted(versions.pidVersion);
    ::close(device);
    return answer;
}

int ZARNsystem::getSystemVersion(QString *hwTimestamp, QString *swVersion, QString *pidVersion)
{
    const Versions versions = query();
    if (versions.status < 0)
        return versions.status;
    if (swVersion)
        *swVersion = versions.swVersion;
    if (hwTimestamp)
        *hwTimestamp = versions.hwTimestamp;
    if (pidVersion)
        *pidVersion = versions.pidVersion;
    return 0;
}
