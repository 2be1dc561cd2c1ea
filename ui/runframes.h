#pragma once

#include <functional>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QLabel;
class QProgressBar;

// What the window shows of a run's reports, at most once a frame. The worker
// sends two progress values and a status line for every KiB it moves, tens of
// thousands a second on a fast device; a window that painted or laid itself
// out for each would cost more per block the faster the device and the slower
// the machine. A report only replaces the value waiting to be shown; the bars,
// the status line and what follows them are brought up to date once a frame,
// and at once when the end of a run asks for it.
class RunFrames final : public QObject
{
public:
    // lineShown: each line about to be shown, before it is; totalShown: once a
    // frame in which a total progress came, after the bars are up to date.
    RunFrames(QProgressBar *current, QProgressBar *total, QLabel *statusLine,
              std::function<void(const QString &line)> lineShown, std::function<void()> totalShown,
              QObject *parent);

    void setCurrent(int value);
    void setTotal(int value);
    void setLine(const QString &line);
    // Shows whatever is waiting, now.
    void show();

    // 60 frames a second at most: a timer never fires early.
    static constexpr int frameMs = 17;
    // The time between two frames against the time one takes to draw: the
    // frames take no more than a fiftieth of the time however slow the
    // machine, so that drawing the window never holds up the flash by more.
    static constexpr int timeToFrames = 50;

private:
    // A value the bar would ignore (out of its range) must not stand in for one it would show.
    static bool accepts(const QProgressBar *bar, int value);
    void due();

    QProgressBar *const currentBar;
    QProgressBar *const totalBar;
    QLabel *const statusLine;
    const std::function<void(const QString &)> lineShown;
    const std::function<void()> totalShown;

    int current = 0;
    int total = 0;
    QString line;
    bool currentCame = false;
    bool totalValueCame = false;
    bool totalCame = false; // a value, whether the bar takes it or not
    bool lineCame = false;
    QTimer frame;
    QElapsedTimer lastShown;
    static constexpr qint64 nsPerMs = 1000000;
    // From the start of one frame to the next.
    qint64 gapNs = frameMs * nsPerMs;
};
