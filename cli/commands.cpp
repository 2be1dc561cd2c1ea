#include "commands.h"

#include "cliout.h"
#include "exitcodes.h"
#include "flashaudit.h"
#include "flashio.h"
#include "imagetext.h"
#include "provenance.h"
#include "runhistory.h"
#include "sitesettings.h"
#include "updatesnapshot.h"
#include "zarnsystem.h"

#include <cerrno>
#include <cstdio>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <sys/stat.h>
#include <utility>

namespace commands {

namespace {

// The file alone, for the commands that only read it or the flash.
preflight::Request fileAlone()
{
    preflight::Request request;
    request.busy = request.hardware = request.power = request.recoveryCopies = false;
    return request;
}
const preflight::Request fileOnly = fileAlone();

const char usageText[] = QT_TRANSLATE_NOOP(
    "CommandLine",
    "Usage: zarn-update [--json] COMMAND [ARGUMENTS]\n"
    "       zarn-update --help | --version\n"
    "\n"
    "  versions              the versions installed on the ZARN system\n"
    "  info FILE             the images of an update file\n"
    "  check FILE            check an update file as an update would, without the flash\n"
    "  update FILE [--yes] [--only-changed] [--dry-run] [--allow-older-hardware] [--allow-downgrade]\n"
    "              [--ignore-power] [--no-recovery-copy]\n"
    "                        update the flash from FILE (asks first on a terminal); --only-changed\n"
    "                        writes only the pages that do not hold FILE's bytes already; --dry-run\n"
    "                        makes every check and shows the pages it would erase and write, without\n"
    "                        touching the flash\n"
    "  verify FILE           compare the flash with FILE's images, without writing\n"
    "  backup FILE OUT [--force]\n"
    "                        save what the flash holds where FILE's images go, as an update file;\n"
    "                        an existing OUT is replaced only with --force, never FILE itself\n"
    "  history               the updates made on this system, and which can be resumed or restored\n"
    "  resume [--yes] [--dry-run]\n"
    "                        finish the newest update that did not end verified, from the copy the\n"
    "                        journal kept of it\n"
    "  restore [ID] [--yes]  write back what the flash held before the newest update\n"
    "  trust [FOLDER...]     the certificates and revocation lists of the trusted folders\n"
    "\n"
    "check and update refuse an image that needs newer hardware than this system has, unless given\n"
    "--allow-older-hardware, and an image older than the one last written and verified at its address\n"
    "under its name, unless given --allow-downgrade; update refuses to start on a battery below the\n"
    "site's minimum charge (30 %, or [power] minimum-battery-percent in\n"
    "/etc/zarn-update-utility/update.conf), unless given --ignore-power. The history is the system's\n"
    "journal in /var/lib/zarn-update-utility (or ZARN_JOURNAL_DIR), or the user's own where that\n"
    "cannot be written.\n"
    "\n"
    "--json writes one JSON object a line. Exit statuses: 0 success, 1 update failed, 2 usage,\n"
    "3 refused file, 4 refused signature, 5 no device or permission, 6 busy, 7 verification\n"
    "failed, 8 completed after a signal asked to stop, 9 not confirmed. See zarn-update(1).\n");

int usage(CliOutput &out, const QString &problem)
{
    if (!problem.isEmpty())
        out.error(problem);
    std::fputs(qPrintable(QCoreApplication::translate("CommandLine", usageText)), stderr);
    return exitcode::usage;
}

int versions(CliOutput &out)
{
    const ZARNsystem::Versions installed = ZARNsystem::query();
    const QString &timestamp = installed.hwTimestamp;
    const QString &software = installed.swVersion;
    const QString &pid = installed.pidVersion;
    if (installed.status < 0) {
        const QString cause = flashio::openFailureCause(installed.error);
        out.error(QStringLiteral("/dev/zarn_mailbox could not be read: ") +
                  (cause.isEmpty() ? QStringLiteral("the ZARN driver is not loaded") : cause));
        return exitcode::noDevice;
    }
    // A stand-in is shown as the window shows it, and said to be one.
    if (out.mode() == CliOutput::Mode::Json) {
        QJsonArray notGiven;
        for (const auto &[name, known] :
             {std::pair<const char *, bool>{"hardwareTimestamp", installed.hwKnown},
              {"softwareVersion", installed.swKnown},
              {"pidVersion", installed.pidKnown}})
            if (!known)
                notGiven.append(QLatin1String(name));
        QJsonObject event{{"event", "versions"},
                          {"hardwareTimestamp", timestamp},
                          {"softwareVersion", software},
                          {"pidVersion", pid}};
        if (!notGiven.isEmpty())
            event.insert(QStringLiteral("notGiven"), notGiven);
        out.event(event);
    } else {
        const auto shown = [](const QString &value, bool known) {
            return known ? value : value + QStringLiteral(" (not given by the driver: a stand-in)");
        };
        out.line(QStringLiteral("Hardware timestamp: ") + shown(timestamp, installed.hwKnown));
        out.line(QStringLiteral("Software version:   ") + shown(software, installed.swKnown));
        out.line(QStringLiteral("PID version:        ") + shown(pid, installed.pidKnown));
    }
    return exitcode::success;
}

int verify(const QString &path, CliOutput &out)
{
    CheckedFile checked = checkFile(path, fileOnly, out);
    if (checked.status != 0)
        return checked.status;
    const flashaudit::Outcome outcome =
        flashaudit::verify(checked.images, *checked.file, [&](int i, bool equal) {
            const ImageHeader &image = checked.images.at(i);
            if (out.mode() == CliOutput::Mode::Json)
                out.event({{"event", "image"},
                           {"index", i + 1},
                           {"name", imagetext::name(image)},
                           {"address", qint64(image.address)},
                           {"equal", equal}});
            else
                out.line(QStringLiteral("image %1 (%2) at %3: %4")
                             .arg(QString::number(i + 1), imagetext::name(image),
                                  imagetext::address(image.address),
                                  equal ? QStringLiteral("equal") : QStringLiteral("DIFFERS")));
        });
    if (!outcome.line.isEmpty())
        out.error(outcome.line);
    const int status = exitcode::of(outcome.kind);
    if (status == exitcode::verificationFailed)
        out.error(QStringLiteral("the flash does not hold %1: %2 of %3 images differ")
                      .arg(path, QString::number(outcome.differing.size()),
                           QString::number(checked.images.size())));
    return status;
}

// Empty when target may take a backup of the flash for the update file at
// path; otherwise why not. Only a regular file is ever replaced, never the
// update file itself by whatever name, and only when asked.
QString backupTargetRefusal(const QString &path, const QString &target, bool force)
{
    const QByteArray targetName = QFile::encodeName(target);
    struct stat status;
    if (::stat(targetName.constData(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT && ::lstat(targetName.constData(), &status) != 0)
            return QString(); // a new file
        return target + QStringLiteral(" cannot be written: ") +
               (error == ENOENT ? QStringLiteral("it is a link to nothing") : flashio::causeText(error));
    }
    if (!S_ISREG(status.st_mode))
        return target + QStringLiteral(" is not a regular file: a backup is written only to a regular file");
    struct stat input;
    if (::stat(QFile::encodeName(path).constData(), &input) == 0 && input.st_dev == status.st_dev &&
        input.st_ino == status.st_ino)
        return target + QStringLiteral(" is the update file itself: the backup would replace it");
    if (!force)
        return target + QStringLiteral(" exists: give --force to replace it");
    return QString();
}

int backup(const QString &path, const QString &target, bool force, CliOutput &out)
{
    CheckedFile checked = checkFile(path, fileOnly, out);
    if (checked.status != 0)
        return checked.status;
    const QString refusal = backupTargetRefusal(path, target, force);
    if (!refusal.isEmpty()) {
        out.error(refusal);
        return exitcode::usage;
    }
    const flashaudit::Outcome outcome = flashaudit::backup(checked.images, *checked.file, target);
    if (outcome.kind != RunOutcome::Kind::Succeeded) {
        out.error(outcome.line);
        return exitcode::of(outcome.kind);
    }
    out.line(QStringLiteral("Saved what the flash holds for %1 images in %2")
                 .arg(checked.images.size())
                 .arg(target));
    return exitcode::success;
}

int history(CliOutput &out)
{
    const RunHistory history;
    const QList<HistoryEntry> entries = history.entries();
    for (const HistoryEntry &entry : entries) {
        // Only the newest update can be finished or undone, and only from copies that are there.
        const bool newest = &entry == &entries.last();
        const bool settled = newest && entry.result == QLatin1String("started") && !entry.interrupted();
        const auto kept = [&](const HistoryEntry::Copy &copy) {
            return copy.kept() && QFileInfo(QDir(history.directory()).filePath(copy.file)).isFile();
        };
        const bool resumable =
            newest && !settled && entry.result != QLatin1String("succeeded") && kept(entry.target);
        const bool restorable = newest && !settled && kept(entry.before);
        if (out.mode() == CliOutput::Mode::Json) {
            QJsonObject event = RunHistory::toJson(entry);
            event.insert(QStringLiteral("event"), QStringLiteral("history"));
            if (entry.interrupted())
                event.insert(QStringLiteral("result"), QStringLiteral("interrupted"));
            event.insert(QStringLiteral("resumable"), resumable);
            event.insert(QStringLiteral("restorable"), restorable);
            out.event(event);
            continue;
        }
        const QString result = entry.interrupted() ? QStringLiteral("interrupted") : entry.result;
        // One substitution for all: a name may hold "%1" itself.
        out.line(
            QStringLiteral("%1  %2  %3  %4  %5 images  %6 s  %7")
                .arg(entry.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), entry.user,
                     entry.kind == QLatin1String("update") ? result : entry.kind + QLatin1Char(' ') + result,
                     entry.file, QString::number(entry.images.size()),
                     QString::number(double(entry.durationMs) / 1000.0, 'f', 1), entry.lastLine) +
            (resumable ? QStringLiteral("  [zarn-update resume finishes it]") : QString()) +
            (restorable ? QStringLiteral("  [zarn-update restore undoes it]") : QString()));
    }
    return exitcode::success;
}

} // namespace

CheckedFile checkFile(const QString &path, const preflight::Request &request, CliOutput &out)
{
    CheckedFile checked;
    static_cast<preflight::Result &>(checked) = preflight::check(path, request);
    if (checked.refused()) {
        out.error(checked.refusal);
        checked.status = exitcode::of(checked.refusedAs);
    } else if (!checked.origin.warning.isEmpty()) {
        out.warning(path + QStringLiteral(": ") + checked.origin.warning);
    }
    return checked;
}

void printImages(const QList<ImageHeader> &images, CliOutput &out)
{
    for (int i = 0; i < images.size(); ++i) {
        const ImageHeader &image = images.at(i);
        if (out.mode() == CliOutput::Mode::Json) {
            out.event({{"event", "image"},
                       {"index", i + 1},
                       {"name", imagetext::name(image)},
                       {"version", imagetext::version(image.version)},
                       {"minHW", qint64(image.minHW)},
                       {"address", qint64(image.address)},
                       {"size", qint64(image.size)}});
            continue;
        }
        out.line(QStringLiteral("%1. %2  version %3  min HW %4  address %5  size %6")
                     .arg(QString::number(i + 1), imagetext::name(image), imagetext::version(image.version),
                          QString::number(image.minHW), imagetext::address(image.address),
                          QString::number(image.size)));
    }
}

int run(const QStringList &arguments)
{
    QStringList words = arguments;
    const bool json = words.removeAll(QStringLiteral("--json")) > 0;
    const bool yes = words.removeAll(QStringLiteral("--yes")) > 0;
    UpdateRequest request;
    request.yes = yes;
    request.onlyChanged = words.removeAll(QStringLiteral("--only-changed")) > 0;
    request.allowOlderHardware = words.removeAll(QStringLiteral("--allow-older-hardware")) > 0;
    request.allowDowngrade = words.removeAll(QStringLiteral("--allow-downgrade")) > 0;
    request.ignorePower = words.removeAll(QStringLiteral("--ignore-power")) > 0;
    request.dryRun = words.removeAll(QStringLiteral("--dry-run")) > 0;
    request.noRecoveryCopy = words.removeAll(QStringLiteral("--no-recovery-copy")) > 0;
    const bool force = words.removeAll(QStringLiteral("--force")) > 0;
    CliOutput out(json);
    if (words.isEmpty())
        return usage(out, QString());
    if (words.first() == QLatin1String("--help") || words.first() == QLatin1String("help")) {
        std::fputs(qPrintable(QCoreApplication::translate("CommandLine", usageText)), stdout);
        return exitcode::success;
    }
    if (words.first() == QLatin1String("--version")) {
        std::printf("zarn-update %s (build %d)\n", ZARN_VERSION, ZARN_BUILD_NUMBER);
        return exitcode::success;
    }
    const QString command = words.takeFirst();
    const auto expect = [&](int count) { return words.size() == count; };
    const auto dispatch = [&]() -> int {
        // An update that a power cut or a kill ended is said first, whatever is asked.
        for (const QString &note : RunHistory::journalNotes())
            out.warning(note);
        for (const QString &notice : RunHistory().notices())
            out.error(notice);
        for (const QString &note : sitesettings::notes())
            out.warning(note);

        if (command == QLatin1String("versions") && expect(0))
            return versions(out);
        if (command == QLatin1String("info") && expect(1)) {
            CheckedFile checked = checkFile(words.at(0), fileOnly, out);
            printImages(checked.images, out);
            return checked.status;
        }
        if (command == QLatin1String("check") && expect(1)) {
            preflight::Request checks;
            checks.busy = false;
            checks.power = false;
            checks.recoveryCopies = false;
            checks.mailboxRequired = true;
            CheckedFile checked = checkFile(words.at(0), checks, out);
            QStringList overrides;
            if (checked.status == 0)
                checked.status = passConcerns(words.at(0), checked.concerns, request, &overrides, out);
            if (checked.status == 0)
                out.line(QStringLiteral("%1: %2 images, %3, ready to update")
                             .arg(words.at(0), QString::number(checked.images.size()),
                                  checked.origin.origin.toLower()));
            return checked.status;
        }
        if (command == QLatin1String("update") && expect(1))
            return update(words.at(0), request, out);
        if (command == QLatin1String("verify") && expect(1))
            return verify(words.at(0), out);
        if (command == QLatin1String("backup") && expect(2))
            return backup(words.at(0), words.at(1), force, out);
        if (command == QLatin1String("history") && expect(0))
            return history(out);
        if (command == QLatin1String("resume") && expect(0))
            return resume(request, out);
        if (command == QLatin1String("restore") && words.size() <= 1)
            return restore(words.value(0), request, out);
        if (command == QLatin1String("trust"))
            return trust(words, out);
        return usage(out, QStringLiteral("unknown command or wrong arguments: ") +
                              arguments.join(QLatin1Char(' ')));
    };
    const int status = dispatch();
    // A tool that reads the events learns how any command ended, not only an update.
    if (status != exitcode::success)
        out.endWithRefusal(status);
    return status;
}

} // namespace commands
