#pragma once

#include "imageheader.h"
#include "runoutcome.h"
#include "runphases.h"
#include "runtexts.h"

#include <memory>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace changedpages {
struct Counts;
}
class ReportPacer;
class UpdateSnapshot;
class RunRecorder;

// The worker of one update run. Despite its name it is a plain QObject that the
// main window moves to a thread of its own; process() then runs the whole
// update there and reports through the four signals.
class UpdaterThread : public QObject
{
    Q_OBJECT

public:
    // One image of an update file, as its 32-byte header describes it.
    using imgHeader = ImageHeader;

    explicit UpdaterThread(QObject *parent = nullptr);
    ~UpdaterThread() override;

    void setFilename(QString filename);
    // The bytes the operator confirmed, listed and judged already: the run
    // writes and verifies exactly these. Without them the run takes the file
    // as it is when the run starts.
    void setSnapshot(std::shared_ptr<const UpdateSnapshot> snapshot);
    // Where the run looks for the certificates it trusts; the installed
    // directories unless set before the run.
    void setTrustedDirectories(QStringList directories);

    static int getHeaderInfo(QString filename, QList<UpdaterThread::imgHeader> *list);

    int unlockFlash(int fd);
    int eraseFlash(int fd, u_int32_t address, u_int32_t size);
    int writeToFlash(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size);
    int verifyAndRepair(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size);

    void reportProgress(int phase, float fraction);

    // Set before the worker's thread starts: the window that shows the
    // reports paces them. Without one, reports go out as fast as they come.
    void setReportPacer(std::shared_ptr<ReportPacer> pacer);
    // Likewise: the history this run is written to. Without one, none is kept.
    void setRunRecorder(std::shared_ptr<RunRecorder> recorder);
    // Likewise: write only the pages that do not hold the update already,
    // counting them in counts. The window always makes the full update.
    void setOnlyChanged(std::shared_ptr<changedpages::Counts> counts);
    // Likewise: where the run leaves how it ended, published before finished()
    // is sent. Without one, the worker keeps it to itself.
    void setOutcome(std::shared_ptr<RunOutcomeSlot> slot);

    // Likewise: where the run says which image and stage it is at.
    void setProgressWatch(std::shared_ptr<RunProgress> progress);
    // Tells the watch, if any, that the run enters stage; erasing begins the next image.
    void enterStage(RunStage stage);

    // Ends the run's work with line as its last status line: sends it and
    // keeps it, its kind and the cause (an errno, 0 for none) as the outcome.
    void failRun(RunOutcome::Kind kind, const QString &line, int error = 0);

signals:
    void finished();
    void updateCurrentProgress(int progress);
    void updateTotalProgress(int progress);
    void updateStatusText(QString text);

public slots:
    void process();

private:
    void runUpdate();
    int readBackUpdate(int fd, QFile &file, const QList<imgHeader> &images);

    QString filename;
    std::shared_ptr<const UpdateSnapshot> confirmed;
    QStringList trustedDirectories;
    float imageWeight;
    float completedWeight;
    std::shared_ptr<ReportPacer> pacer;
    std::shared_ptr<RunRecorder> recorder;
    std::shared_ptr<changedpages::Counts> changes;
    // How the run is ending, on the run's own thread.
    RunOutcome outcome;
    std::shared_ptr<RunOutcomeSlot> outcomeSlot;
    std::shared_ptr<RunProgress> progressWatch;
};
