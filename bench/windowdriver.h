#pragma once

#include <atomic>
#include <memory>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <QVector>

class MainWindow;
class QEvent;
class QLineEdit;
class QPushButton;
class QTimer;
class UpdaterThread;

namespace bench {

// When the moments of one update run happened, on the monotonic clock.
struct RunTimes
{
    bool completed = false; // the window came back from the run, and the run's objects are gone
    qint64 handedOver = 0;  // GUI thread: the worker is moved to its thread, which starts next
    qint64 started = 0;     // worker thread: process() sends its first status line
    qint64 finished = 0;    // worker thread: the worker emits finished()
    qint64 windowDone = 0;  // GUI thread: MainWindow::updateFinished() writes its debug line
    QVector<qint64> lagsNs; // how late each tick of a 10 ms GUI timer came while the run was under way
    QString lastStatus;     // the status line the window shows at the end
};

// Quiets the debug output for the whole process (the bench times the
// product's work, not the terminal's) and the offscreen platform's chatter;
// other warnings still show. Call before the application object exists.
void installMessageHandler();

// Drives update runs the way an operator does: a real MainWindow, shown, with
// the file name typed in, Update released and the confirmation accepted. The
// window keeps no handle on a run, so its worker is caught as it is moved to
// its thread (the ThreadChange event reaches an application event filter while
// the worker still lives in the GUI thread); direct connections then time the
// run on the worker's own thread. The window's end of a run is its debug line
// "void MainWindow::updateFinished()", timestamped by a message handler.
//
// Only one may live at a time; needs installMessageHandler().
class WindowDriver final : public QObject
{
public:
    WindowDriver();
    ~WindowDriver() override;

    RunTimes run(const QString &updateFile);

    // How late each tick of the 10 ms GUI timer comes over ms with no run:
    // the floor of the lag figures.
    QVector<qint64> idleLags(int ms);

    // Lets the window settle: events and timers run for this long.
    static void spin(int ms);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Shared;

    void follow(UpdaterThread *worker);
    void tick();

    std::unique_ptr<MainWindow> window;
    QLineEdit *filenameEdit = nullptr;
    QPushButton *updateButton = nullptr;
    QTimer *ticker = nullptr;
    qint64 lastTick = 0;
    bool sampleIdle = false;
    std::shared_ptr<Shared> shared;
};

} // namespace bench
