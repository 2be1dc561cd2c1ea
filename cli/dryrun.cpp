#include "changedpages.h"
#include "cliout.h"
#include "commands.h"
#include "exitcodes.h"
#include "flashio.h"
#include "flashlock.h"
#include "imagetext.h"
#include "runhistory.h"
#include "updaterthread.h"
#include "zarndriver.h"

#include <algorithm>
#include <fcntl.h>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <unistd.h>

namespace commands {

namespace {

using changedpages::Action;

quint32 pagesOf(const ImageHeader &image)
{
    return (quint64(image.size) + zarndriver::pageSize - 1) / zarndriver::pageSize;
}

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

// The plan of an update of the changed pages: the flash read, held against
// updates meanwhile, never unlocked. exitcode::success, or the status of the
// failure, said.
int readPlan(const QString &path, const CheckedFile &checked, changedpages::Plan *plan, CliOutput &out)
{
    const int fd = ::open(zarndriver::flashPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const QString cause = flashio::openFailureCause(errno);
        out.error(QStringLiteral("Error opening ") + QLatin1String(zarndriver::flashPath) +
                  (cause.isEmpty() ? QString() : QStringLiteral(": ") + cause));
        return exitcode::noDevice;
    }
    const flashlock::Attempt lock = flashlock::tryLock(fd);
    int status = exitcode::success;
    if (lock.state != flashlock::Attempt::Held) {
        out.error(lock.state == flashlock::Attempt::Busy
                      ? flashlock::busyText(lock.holder)
                      : QStringLiteral("Error locking ") + QLatin1String(zarndriver::flashPath) +
                            QStringLiteral(": ") + flashio::causeText(lock.error));
        status = lock.state == flashlock::Attempt::Busy ? exitcode::busy : exitcode::updateFailed;
    } else {
        // The planner reports through a worker; this one never runs.
        UpdaterThread reader;
        QString lastLine;
        QObject::connect(&reader, &UpdaterThread::updateStatusText,
                         [&lastLine](const QString &line) { lastLine = line; });
        changedpages::Counts counts;
        if (!changedpages::plan(reader, path, fd, *checked.file, checked.images, plan, counts)) {
            out.error(lastLine);
            status = exitcode::updateFailed;
        }
    }
    ::close(fd);
    return status;
}

} // namespace

int dryRun(const QString &path, const CheckedFile &checked, bool onlyChanged, CliOutput &out)
{
    changedpages::Plan plan;
    if (onlyChanged) {
        if (const int status = readPlan(path, checked, &plan, out))
            return status;
    } else {
        for (const ImageHeader &image : checked.images)
            plan.push_back(std::vector<Action>(pagesOf(image), Action::EraseAndWrite));
    }

    QJsonArray images;
    int totals[3] = {0, 0, 0}; // erased and written, written without erasing, left alone
    int pages = 0;
    for (int i = 0; i < checked.images.size(); ++i) {
        const std::vector<Action> &actions = plan.at(size_t(i));
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
                     .arg(i + 1)
                     .arg(imagetext::name(image), imagetext::address(image.address))
                     .arg(actions.size())
                     .arg(erase)
                     .arg(program)
                     .arg(skip));
    }
    QString from;
    const double perPage = msPerPage(&from);
    const qint64 estimateMs = perPage < 0 ? -1 : qint64(perPage * (totals[0] + totals[1]));
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
