#include "flashaudit.h"

#include "flashhandle.h"
#include "imagebuffer.h"
#include "updatefilereader.h"

#include <algorithm>
#include <cstring>
#include <QFile>
#include <QSaveFile>
#include <vector>

namespace flashaudit {

namespace {

// The flash opened for reading and locked against updates, for as long as it
// lives, and how the look at it is going.
struct ReadOnlyFlash
{
    ReadOnlyFlash() : handle(FlashHandle::Mode::Read)
    {
        if (!handle.ready())
            fail(handle.failure());
    }

    bool ready() const { return outcome.kind == RunOutcome::Kind::Succeeded; }

    // length bytes from address into target; false with the outcome set.
    bool read(u_int32_t address, uchar *target, u_int32_t length)
    {
        const FlashFailure failure = handle.read(address, target, length);
        return !failure || fail(failure);
    }

    bool fail(const FlashFailure &failure)
    {
        outcome.kind = RunOutcome::kindOf(failure);
        outcome.line = failure.line();
        return false;
    }
    bool fail(const QString &line)
    {
        outcome.kind = RunOutcome::Kind::Failed;
        outcome.line = line;
        return false;
    }

    const FlashHandle handle;
    Outcome outcome;
};

u_int32_t dataLength(const ImageHeader &image)
{
    return image.size - updatefilereader::headerSize;
}

} // namespace

Outcome verify(const QList<ImageHeader> &images, QFile &file, const ImageDone &done)
{
    ReadOnlyFlash flash;
    if (!flash.ready())
        return flash.outcome;
    for (int i = 0; i < images.size(); ++i) {
        const ImageHeader &image = images.at(i);
        const u_int32_t length = dataLength(image);
        ImageBuffer expected;
        ImageBuffer held(length);
        if (expected.view(file, image.offset, length) != ImageBuffer::View::Ready || !held) {
            flash.fail(QStringLiteral("Error reading the update file"));
            return flash.outcome;
        }
        if (!flash.read(image.address, held.data(), length))
            return flash.outcome;
        const auto mismatch = std::mismatch(held.data(), held.data() + length, expected.data());
        const bool equal = mismatch.first == held.data() + length;
        if (!equal) {
            flash.outcome.kind = RunOutcome::Kind::VerificationFailed;
            flash.outcome.differing.append(i);
            flash.outcome.firstOffsets.append(image.address + u_int32_t(mismatch.first - held.data()));
        }
        if (done)
            done(i, equal);
    }
    return flash.outcome;
}

Outcome backup(const QList<ImageHeader> &images, QFile &file, const QString &out)
{
    ReadOnlyFlash flash;
    if (!flash.ready())
        return flash.outcome;
    QSaveFile copy(out);
    if (!copy.open(QIODevice::WriteOnly)) {
        flash.fail(QStringLiteral("Error writing ") + out + QStringLiteral(": ") + copy.errorString());
        return flash.outcome;
    }
    for (const ImageHeader &image : images) {
        char header[updatefilereader::headerSize];
        if (!file.seek(image.offset) || file.read(header, sizeof header) != qint64(sizeof header)) {
            flash.fail(QStringLiteral("Error reading the update file"));
            return flash.outcome;
        }
        const u_int32_t length = dataLength(image);
        std::vector<uchar> held(length);
        if (!flash.read(image.address, held.data(), length))
            return flash.outcome;
        if (copy.write(header, sizeof header) != qint64(sizeof header) ||
            copy.write(reinterpret_cast<const char *>(held.data()), length) != qint64(length)) {
            flash.fail(QStringLiteral("Error writing ") + out + QStringLiteral(": ") + copy.errorString());
            return flash.outcome;
        }
    }
    if (!copy.commit())
        flash.fail(QStringLiteral("Error writing ") + out + QStringLiteral(": ") + copy.errorString());
    return flash.outcome;
}

} // namespace flashaudit
