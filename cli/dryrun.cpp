#include "changedpages.h"
#include "cliout.h"
#include "commands.h"
#include "exitcodes.h"
#include "flashhandle.h"
#include "imagetext.h"
#include "runhistory.h"
#include "runreporter.h"
#include "zarndriver.h"

#include <algorithm>
#include <optional>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

namespace commands {

namespace {

using changedpages::Action;

// The time one page took in the last full update made here that succeeded, in
// milliseconds; negative when there is none to go by.
double msPerPage(QString *from)
{
    const QList<HistoryEntry> entries = RunHistory().entries();
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
        if (entry->result != QLatin1String("succeeded") || entry->pagesWritten >= 0 || entry->durationMs <= 0)
            continue;
        quint64 pages = 0;
        for (const HistoryEntry::Image &image : entry->images)
            pages += (quint64(image.size) + zarndriver::pageSize - 1) / zarndriver::pageSize;
        if (pages == 0)
            continue;
        *from = entry->started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        return double(entry->durationMs) / double(pages);
    }
    return -1;
}

// What a plan made without a run has to say: only how it failed.
class PlanReporter final : public RunReporter
{
public:
    void status(const QString &, LineKind) override {}
    void progress(Phase, float) override {}
    void currentProgress(int) override {}
    void stage(RunStage) override {}
    void fail(const RunFailure &failure) override { failed = failure; }

    RunFailure failed;
};

// The plan of the update: the flash opened as the update opens it and held
// against updates meanwhile, never unlocked, and read for an update of the
// changed pages. exitcode::success, or the status of the failure, said.
int readPlan(const QString &path, const CheckedFile &checked, bool onlyChanged, changedpages::Plan *plan,
             CliOutput &out)
{
    const FlashHandle flash(FlashHandle::Mode::ReadWrite);
    if (!flash.ready()) {
        out.error(flash.failure().line());
        return exitcode::of(RunOutcome::kindOf(flash.failure()));
    }
    if (!onlyChanged) {
        *plan = changedpages::Plan::full(checked.images);
        return exitcode::success;
    }
    PlanReporter reporter;
    std::optional<changedpages::Plan> planned =
        changedpages::plan(reporter, flash, path, *checked.file, checked.images);
    if (!planned) {
        out.error(reporter.failed.line);
        return exitcode::of(reporter.failed.kind);
    }
    *plan = std::move(*planned);
    return exitcode::success;
}

} // namespace

int dryRun(const QString &path, const CheckedFile &checked, bool onlyChanged, CliOutput &out)
{
    changedpages::Plan plan;
    if (const int status = readPlan(path, checked, onlyChanged, &plan, out))
        return status;

    QJsonArray images;
    int totals[3] = {0, 0, 0}; // erased and written, written without erasing, left alone
    int pages = 0;
    for (int i = 0; i < checked.images.size(); ++i) {
        const std::vector<Action> &actions = plan.actions.at(size_t(i));
        const auto count = [&actions](Action action) {
            return int(std::count(actions.begin(), actions.end(), action));
        };
        const int erase = count(Action::EraseAndWrite);
        const int program = count(Action::Program);
        const int skip = count(Action::Skip);
        totals[0] += erase;
        totals[1] += program;
        totals[2] += skip;
        pages += int(actions.size());
        const ImageHeader &image = checked.images.at(i);
        if (out.mode() == CliOutput::Mode::Json) {
            images.append(QJsonObject{{"index", i + 1},
                                      {"name", imagetext::name(image)},
                                      {"address", qint64(image.address)},
                                      {"pages", int(actions.size())},
                                      {"erase", erase},
                                      {"program", program},
                                      {"skip", skip}});
            continue;
        }
        out.line(QStringLiteral("%1. %2 at %3: %4 pages: %5 to erase and write, %6 to write without erasing, "
                                "%7 left as they are")
                     .arg(QString::number(i + 1), imagetext::name(image), imagetext::address(image.address),
                          QString::number(actions.size()), QString::number(erase), QString::number(program),
                          QString::number(skip)));
    }
    QString from;
    const double perPage = msPerPage(&from);
    // A stored duration of any size gives an estimate a tool can read, or none.
    const double estimate = perPage * (totals[0] + totals[1]);
    const qint64 estimateMs = perPage >= 0 && estimate < double(qint64(1) << 53) ? qint64(estimate) : -1;
    if (out.mode() == CliOutput::Mode::Json) {
        out.event({{"event", "plan"},
                   {"images", images},
                   {"pages", pages},
                   {"pagesToErase", totals[0]},
                   {"pagesToProgram", totals[1]},
                   {"pagesSkipped", totals[2]},
                   {"estimateMs", estimateMs}});
        return exitcode::success;
    }
    out.line(QStringLiteral(
                 "An update would erase and write %1 of %2 pages, write %3 without erasing and leave %4 "
                 "as they are; nothing was changed.")
                 .arg(totals[0])
                 .arg(pages)
                 .arg(totals[1])
                 .arg(totals[2]));
    out.line(
        estimateMs < 0
            ? QStringLiteral(
                  "No earlier update on this system gives the device's speed to estimate the time.")
            : QStringLiteral("It would take about %1 s of device time, at the speed of the update of %2.")
                  .arg(double(estimateMs) / 1000.0, 0, 'f', 1)
                  .arg(from));
    return exitcode::success;
}

} // namespace commands
