#include "changedpages.h"
#include "cliout.h"
#include "commands.h"
#include "exitcodes.h"
#include "imagetext.h"
#include "operatorlanguage.h"
#include "quitsignalguard.h"
#include "runhistory.h"
#include "runinhibitor.h"
#include "runoutcome.h"
#include "runrelay.h"
#include "runsession.h"
#include "runtexts.h"
#include "runyield.h"
#include "updaterthread.h"
#include "updaterunner.h"
#include "updatesnapshot.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QTextStream>
#include <QThread>
#include <unistd.h>

namespace commands {

namespace {

// A stage as the progress line and the JSON progress event name it.
QString stageName(RunStage stage)
{
    switch (stage) {
    case RunStage::Starting:
        break;
    case RunStage::Comparing:
        return QStringLiteral("comparing");
    case RunStage::Erasing:
        return QStringLiteral("erasing");
    case RunStage::Writing:
        return QStringLiteral("writing");
    case RunStage::Verifying:
        return QStringLiteral("verifying");
    case RunStage::FinalCheck:
        return QStringLiteral("final check");
    }
    return QStringLiteral("starting");
}

QString clock(qint64 seconds)
{
    return QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

bool answeredYes(const QString &question)
{
    std::fprintf(stdout, "%s [y/N] ", qPrintable(operatorlanguage::shown(question)));
    std::fflush(stdout);
    QTextStream input(stdin);
    const QString answer = input.readLine().trimmed().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

} // namespace

bool confirmed(const UpdateRequest &request, const QString &question, CliOutput &out)
{
    if (request.yes)
        return true;
    const bool terminal = ::isatty(STDIN_FILENO) && out.mode() != CliOutput::Mode::Json;
    if (!terminal) {
        out.error(QStringLiteral("not confirmed: give --yes to update without a question"));
        return false;
    }
    if (!answeredYes(question)) {
        out.error(QStringLiteral("not confirmed: nothing was changed"));
        return false;
    }
    return true;
}

namespace {

// Follows one run: its lines and bars become the program's output; the image
// and the stage are read from the run when they are shown.
struct RunView
{
    RunView(CliOutput &out, const QList<ImageHeader> &images) : out(out), images(images) {}

    CliOutput &out;
    const QList<ImageHeader> &images;
    // Where the run was when it sent the reports being shown: told in order with them.
    RunProgress::Where at{0, RunStage::Starting};
    QElapsedTimer elapsed;
    int current = 0;
    int total = 0;
    std::array<qint64, 5> lastShown{};

    // A line that tells a step of the run; those of every block are left to the bars.
    void status(const QString &line)
    {
        if (out.mode() == CliOutput::Mode::Json)
            out.event({{"event", "status"}, {"text", line}});
        else if (out.mode() == CliOutput::Mode::Plain)
            out.line(line);
        else
            redraw();
    }

    void progress(int currentValue, int totalValue)
    {
        // The whole update's share done only grows, whatever a repair does to the bar.
        totalValue = std::max(totalValue, total);
        const bool moved = totalValue != total;
        current = currentValue;
        total = totalValue;
        if (out.mode() == CliOutput::Mode::Json) {
            if (!moved)
                return;
            const RunProgress::Where now = at;
            out.event({{"event", "progress"},
                       {"image", now.image},
                       {"images", images.size()},
                       {"phase", stageName(now.stage)},
                       {"current", current},
                       {"total", total}});
        } else if (out.mode() == CliOutput::Mode::Terminal) {
            redraw();
        }
    }

    // On a terminal only, and only when the line would read differently: the
    // reports come for every KiB, the line changes a few times a second.
    void redraw()
    {
        const qint64 seconds = elapsed.elapsed() / 1000;
        const auto [image, stage] = at;
        const std::array<qint64, 5> shown{image, qint64(stage), current, total, seconds};
        if (shown == lastShown)
            return;
        lastShown = shown;
        const QString remaining =
            total > 0 ? clock(elapsed.elapsed() / (10 * qint64(total)) - seconds) : QStringLiteral(" - ");
        const QString name =
            image > 0 && image <= images.size() ? imagetext::name(images.at(image - 1)) : QString();
        out.progress(QStringLiteral("image %1 of %2 %3 | %4 %5% | total %6% | %7 elapsed, %8 left")
                         .arg(image)
                         .arg(images.size())
                         .arg(name, stageName(stage))
                         .arg(current)
                         .arg(total)
                         .arg(clock(seconds), remaining));
    }
};

} // namespace

int update(const QString &path, const UpdateRequest &request, CliOutput &out)
{
    preflight::Request checks;
    checks.mailboxRequired = true;
    CheckedFile checked = checkFile(path, checks, out);
    if (checked.status != 0)
        return checked.status;
    QStringList overrides;
    if (const int status = passConcerns(path, checked.concerns, request, &overrides, out))
        return status;
    printImages(checked.images, out);
    if (out.mode() == CliOutput::Mode::Json)
        out.event({{"event", "origin"}, {"text", checked.origin.origin}, {"signer", checked.origin.signer}});
    else
        out.line(checked.origin.origin);
    if (request.dryRun)
        return dryRun(path, checked, request.onlyChanged, out);
    if (!confirmed(request,
                   QStringLiteral("Update the ZARN flash with these %1 images?").arg(checked.images.size()),
                   out))
        return exitcode::notConfirmed;
    RunJournal journal;
    journal.signer = checked.origin.signer;
    journal.record.keepCopies = true;
    return runAndTell(path, checked.snapshot, checked.images, journal, request, overrides, out);
}

int runAndTell(const QString &path, std::shared_ptr<const UpdateSnapshot> snapshot,
               const QList<ImageHeader> &images, const RunJournal &journal, const UpdateRequest &request,
               QStringList overrides, CliOutput &out)
{
    // The run's surroundings, as the window has them: the session, the
    // deferred signals, the inhibitor lock, the history.
    RunSession session;
    QuitSignalGuard signalGuard(&session, nullptr);
    RunInhibitor inhibitor(&session, QDBusConnection::systemBus(), nullptr);
    RunYield yield(&session, nullptr);
    RunView view(out, images);

    UpdateRunner::Options options;
    options.program = QStringLiteral("zarn-update");
    options.signer = journal.signer;
    options.journal = journal.record;
    options.journal.keepCopies = journal.record.keepCopies && !request.noRecoveryCopy;
    if (journal.record.keepCopies && request.noRecoveryCopy &&
        !overrides.contains(QLatin1String("no-recovery-copy")))
        overrides << QStringLiteral("no-recovery-copy");
    options.keptSha256 = journal.keptSha256;
    options.restoring = journal.restoring;
    if (request.onlyChanged)
        options.onlyChanged = std::make_shared<changedpages::Counts>();
    options.overrides = overrides;
    // Looked at once more as the run starts: the operator may have taken a while to answer.
    options.lowPower = [&](const QString &reason) {
        const QList<preflight::Concern> low{{preflight::Concern::Kind::LowPower, reason}};
        return passConcerns(path, low, request, &overrides, out) == exitcode::success;
    };
    // Said as they come, on the program's own thread, in order with the progress.
    RunRelay relay;
    QObject::connect(
        &relay, &RunRelay::stepLine, &session, [&view](const QString &line) { view.status(line); },
        Qt::QueuedConnection);
    QObject::connect(
        &relay, &RunRelay::stageEntered, &session,
        [&view](int image, int stage) {
            view.at = {image, RunStage(stage)};
        },
        Qt::QueuedConnection);
    options.stepLine = [&relay](const QString &line) { relay.tellStepLine(line); };
    options.stageEntered = [&relay](int image, RunStage stage) { relay.tellStageEntered(image, int(stage)); };
    // Said as soon as it is known, on the program's own thread: the run goes on.
    QObject::connect(
        &relay, &RunRelay::unrecorded, &session,
        [&out](const QString &cause) {
            if (out.mode() == CliOutput::Mode::Json)
                out.event({{"event", "history"}, {"recorded", false}, {"cause", cause}});
            else
                out.error(QStringLiteral("The update will not be recorded in the history: ") + cause);
        },
        Qt::QueuedConnection);
    options.unrecorded = [&relay](const QString &cause) { relay.tellUnrecorded(cause); };
    const UpdateRunner runner(&session);
    const UpdateRunner::Run run = runner.prepare(path, std::move(snapshot), options);
    UpdateRunner::connectLifetime(run);
    UpdaterThread *const worker = run.worker;
    // Taken on the run's thread as they are sent, and handed over as the lines are.
    QObject::connect(
        worker, &UpdaterThread::updateCurrentProgress, &relay,
        [&relay](int value) { relay.tellCurrent(value); }, Qt::DirectConnection);
    QObject::connect(
        worker, &UpdaterThread::updateTotalProgress, &relay, [&relay](int value) { relay.tellTotal(value); },
        Qt::DirectConnection);
    QObject::connect(&relay, &RunRelay::progressed, &session,
                     [&view](int current, int total) { view.progress(current, total); });
    // Once the guards have heard of the end; how the program ends is decided
    // below, from the outcome and from whether a signal was held.
    QObject::connect(&session, &RunSession::ended, &session, [] { QCoreApplication::exit(0); });

    view.elapsed.start();
    const QPointer<QThread> running(run.thread);
    if (!runner.start(run, options))
        return exitcode::refusedFile;
    QCoreApplication::exec();
    // The thread is gone before the objects it reported to are; its deletion
    // may have been left to an event loop that has now ended.
    if (running) {
        running->wait();
        delete running.data();
    }
    // A signal that came during the run was held until it ended: the status
    // still tells whether the flash holds the update.
    const RunOutcome &ended = session.outcome();
    const int status =
        signalGuard.heldSignal() != 0 && ended.succeeded() ? exitcode::interrupted : exitcode::of(ended.kind);

    const QString lastLine = ended.lastLine;
    if (out.mode() == CliOutput::Mode::Json) {
        QJsonObject result{
            {"event", "result"},
            {"result", ended.succeeded() ? QStringLiteral("succeeded") : QStringLiteral("failed")},
            {"outcome", QLatin1String(RunOutcome::kindName(ended.kind))},
            {"flashTouched", ended.flashTouched},
            {"exitCode", status},
            {"lastLine", lastLine},
            {"historyRecorded", ended.historyError.isEmpty()},
            {"overrides", QJsonArray::fromStringList(overrides)}};
        if (!ended.cause.isEmpty())
            result.insert(QStringLiteral("cause"), ended.cause);
        if (!ended.historyError.isEmpty())
            result.insert(QStringLiteral("historyError"), ended.historyError);
        if (ended.pages >= 0) {
            result.insert(QStringLiteral("pages"), ended.pages);
            result.insert(QStringLiteral("pagesSkipped"), ended.pagesSkipped);
            result.insert(QStringLiteral("pagesWritten"), ended.pagesWritten);
            result.insert(QStringLiteral("pagesProgrammed"), ended.pagesProgrammed);
        }
        out.event(result);
    } else {
        if (ended.pages >= 0)
            out.line(QStringLiteral("Pages: %1 skipped, %2 written (%3 without erasing), of %4")
                         .arg(ended.pagesSkipped)
                         .arg(ended.pagesWritten)
                         .arg(ended.pagesProgrammed)
                         .arg(ended.pages));
        out.endProgress();
        const QString cause = ended.causeAside().isEmpty()
                                  ? QString()
                                  : QStringLiteral(" (") + ended.causeAside() + QLatin1Char(')');
        // Plain output has had the line already.
        if (ended.succeeded()) {
            if (out.mode() == CliOutput::Mode::Terminal)
                out.line(lastLine);
        } else if (ended.flashTouched) {
            out.error(
                QStringLiteral("the update failed: ") + lastLine + cause +
                QStringLiteral(". The ZARN system may not start: run the update again before restarting."));
        } else {
            out.error(QStringLiteral("the update did not take place: ") + lastLine + cause +
                      QStringLiteral(". The flash memory was not changed."));
        }
    }
    return status;
}

} // namespace commands
