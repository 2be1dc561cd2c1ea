#pragma once

#include "imageheader.h"
#include "runoutcome.h"
#include "runphases.h"
#include "runreporter.h"
#include "runsetup.h"
#include "runtexts.h"

#include <memory>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <sys/types.h>

class FlashHandle;
class UpdateSnapshot;

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
    // What the run needs besides its file, before the worker's thread starts.
    void setup(RunSetup setup);
    // The two parts of the setup that a run started by hand most often wants.
    void setTrustedDirectories(QStringList directories) { run.trustedDirectories = std::move(directories); }
    void setOnlyChanged(std::shared_ptr<changedpages::Counts> counts) { run.onlyChanged = std::move(counts); }

    static int getHeaderInfo(QString filename, QList<UpdaterThread::imgHeader> *list);

    int unlockFlash(int fd);
    int eraseFlash(int fd, u_int32_t address, u_int32_t size);
    int writeToFlash(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size);
    int verifyAndRepair(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size);

    void reportProgress(int phase, float fraction);

signals:
    void finished();
    void updateCurrentProgress(int progress);
    void updateTotalProgress(int progress);
    void updateStatusText(QString text);

public slots:
    void process();

private:
    // How the engine's helpers report through this worker's signals.
    class Reporter;

    RunReporter &reporting();
    void runUpdate();
    // The images of the snapshot, judged as whole and of a trusted origin (or,
    // for a recovery copy, as the journal kept it), with file open on its bytes.
    bool readImages(const UpdateSnapshot &snapshot, QList<imgHeader> *images, QFile &file);
    // Writes the recovery copies, where the run keeps them; false after a reported refusal.
    bool keepRecoveryCopies(const UpdateSnapshot &snapshot, const FlashHandle &flash,
                            const QList<imgHeader> &images);
    int readBackUpdate(const FlashHandle &flash, QFile &file, const QList<imgHeader> &images);
    void sendLine(const QString &line, LineKind kind);
    void enterStage(RunStage stage);
    // Ends the run's work with the failure's line as its last status line,
    // keeping its kind and cause as the outcome.
    void failRun(const RunFailure &failure);

    QString filename;
    float imageWeight;
    float completedWeight;
    RunSetup run;
    std::unique_ptr<Reporter> reporter;
    // How the run is ending, on the run's own thread.
    RunOutcome outcome;
    // The image the run is at, counted from 1 once its erasing begins.
    int stageImage = 0;
};
