#include "preflight.h"

#include "flashio.h"
#include "flashlock.h"
#include "hardwarecheck.h"
#include "imagetext.h"
#include "powercheck.h"
#include "recoverycopy.h"
#include "runhistory.h"
#include "updatefilereader.h"
#include "updatesnapshot.h"
#include "zarndriver.h"
#include "zarnsystem.h"

#include <QDBusConnection>
#include <QDebug>

namespace preflight {

namespace {

Result refused(Result &&result, RunOutcome::Kind kind, const QString &line)
{
    result.refusedAs = kind;
    result.refusal = line;
    return std::move(result);
}

// Each image against what the journal last saw written and verified at its
// address under its name. An entry that cannot be read may be that one: the
// judgement cannot be made, and is left to the operator as well.
std::optional<Concern> downgradeConcern(const QList<ImageHeader> &images)
{
    QStringList passedOver;
    const QList<HistoryEntry> entries = RunHistory().entries(&passedOver);
    QStringList lines;
    for (int i = 0; i < images.size(); ++i) {
        const ImageHeader &image = images.at(i);
        HistoryEntry::Image last;
        const HistoryEntry *entry =
            RunHistory::lastVerified(entries, imagetext::name(image), image.address, &last);
        if (!entry || image.version >= last.version)
            continue;
        lines << updatefilereader::imageLabel(images, i) + QStringLiteral(" is version ") +
                     imagetext::version(image.version) + QStringLiteral(", older than version ") +
                     imagetext::version(last.version) + QStringLiteral(" written and verified at ") +
                     imagetext::address(image.address) + QStringLiteral(" on ") +
                     entry->started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    if (lines.isEmpty() && !passedOver.isEmpty())
        lines << QStringLiteral("the history cannot be read whole (") + passedOver.first() +
                     QStringLiteral("), so whether an image is older than the one last written in its place "
                                    "cannot be checked");
    if (lines.isEmpty())
        return std::nullopt;
    return Concern{Concern::Kind::Downgrade, lines.join(QStringLiteral(", "))};
}

} // namespace

std::optional<Concern> powerConcern()
{
    const powercheck::Reading power = powercheck::read(QDBusConnection::systemBus());
    if (power.source == powercheck::Reading::Source::Unknown)
        qDebug() << QStringLiteral("The power is not checked: ") + power.why;
    const QString refusal = powercheck::refusal(power);
    if (refusal.isEmpty())
        return std::nullopt;
    return Concern{Concern::Kind::LowPower, refusal};
}

Result check(const QString &path, const Request &request)
{
    Result result;
    if (request.busy) {
        const flashlock::Attempt lock = flashlock::probe();
        if (lock.state == flashlock::Attempt::Busy)
            return refused(std::move(result), RunOutcome::Kind::Busy, flashlock::busyText(lock.holder));
    }
    result.snapshot = UpdateSnapshot::capture(path);
    const QString damage = result.snapshot->refusal(&result.images, *result.file);
    if (!damage.isEmpty())
        return refused(std::move(result), RunOutcome::Kind::RefusedFile, damage);
    // Judged here as the run judges it again: a refusal now spares the
    // operator a confirmation that could only fail.
    result.origin = provenance::check(*result.snapshot);
    if (!result.origin.accepted())
        return refused(std::move(result), RunOutcome::Kind::RefusedOrigin, result.origin.refusal);

    if (request.hardware) {
        const ZARNsystem::Versions installed = ZARNsystem::query();
        if (request.mailboxRequired && !installed.opened) {
            const QString cause = flashio::openFailureCause(installed.error);
            return refused(std::move(result), RunOutcome::Kind::NoDevice,
                           QLatin1String(zarndriver::mailboxPath) + QStringLiteral(" could not be read: ") +
                               (cause.isEmpty() ? QStringLiteral("the ZARN driver is not loaded") : cause));
        }
        const hardwarecheck::Verdict hardware = hardwarecheck::judge(result.images, installed);
        if (!hardware.suits())
            result.concerns.append(
                {hardware.known ? Concern::Kind::OlderHardware : Concern::Kind::UnknownHardware,
                 hardware.problem});
    }
    if (request.downgrade) {
        if (const std::optional<Concern> older = downgradeConcern(result.images))
            result.concerns.append(*older);
    }
    if (request.power) {
        if (const std::optional<Concern> power = powerConcern())
            result.concerns.append(*power);
    }
    if (request.recoveryCopies) {
        const quint64 needed =
            recoverycopy::roomNeeded(result.snapshot->fileSize(), recoverycopy::erasedPages(result.images));
        const QString noRoom = recoverycopy::roomRefusal(RunHistory().directory(), needed);
        if (!noRoom.isEmpty())
            result.concerns.append(
                {Concern::Kind::NoRoomForCopies, noRoom.left(1).toLower() + noRoom.mid(1)});
    }
    return result;
}

} // namespace preflight
