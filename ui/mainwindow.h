#pragma once

#include "imageheader.h"
#include "updaterunner.h"

#include <memory>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QString>

class ImageInfoDialog;
class UpdateSnapshot;
class RunAnnouncer;
class RunFrames;
class RunSession;
class WindowStartup;

namespace Ui {
class MainWindow;
}

// The utility's one window: installed versions, the choice of an update file,
// and the control of an update run on a worker thread.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

public slots:
    void updateFinished();
    void updateCurrentProgress(int progress);
    void updateTotalProgress(int progress);
    void updateStatusText(QString text);

protected:
    bool event(QEvent *event) override;

private slots:
    void FileDialogButton_released();
    void startUpdateButton_released();
    void on_imageInfoButton_clicked();

private:
    void updateTimeLabels();
    // Starts a run of snapshot's images of filename, wired as every run of the window is.
    void startRun(const QString &filename, std::shared_ptr<const UpdateSnapshot> snapshot,
                  const QList<ImageHeader> &images, UpdateRunner::Options options);
    // At start, when the newest update did not end verified: the offer to finish or undo it.
    void offerRecovery();

    Ui::MainWindow *ui;
    QElapsedTimer elapsedTimer;
    ImageInfoDialog *imageInfoDialog;
    RunSession *runSession;
    WindowStartup *startup;
    // What the time labels show, in seconds, so that they are written only when it changes.
    struct ShownTimes
    {
        static constexpr qint64 noEstimate = -1;
        qint64 elapsed = -1;
        qint64 remaining = -2;
    } shownTimes;
    RunAnnouncer *announcer;
    RunFrames *frames;
};
