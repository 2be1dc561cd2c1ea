#include "runframes.h"

#include "operatorlanguage.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>

namespace {

// QProgressBar::setValue() repaints at once, synchronously, whenever the shown
// percentage changes; an ordinary update lets the frame's one paint show both
// bars and the line together.
void setBarValue(QProgressBar *bar, int value)
{
    if (bar->value() == value)
        return;
    bar->setUpdatesEnabled(false);
    bar->setValue(value);
    bar->setUpdatesEnabled(true);
}

} // namespace

RunFrames::RunFrames(QProgressBar *current, QProgressBar *total, QLabel *statusLine,
                     std::function<void(const QString &)> lineShown, std::function<void()> totalShown,
                     QObject *parent)
    : QObject(parent), currentBar(current), totalBar(total), statusLine(statusLine),
      lineShown(std::move(lineShown)), totalShown(std::move(totalShown))
{
    frame.setSingleShot(true);
    // A coarse timer may fire early, which would make more than 60 frames a second.
    frame.setTimerType(Qt::PreciseTimer);
    connect(&frame, &QTimer::timeout, this, &RunFrames::show);
}

bool RunFrames::accepts(const QProgressBar *bar, int value)
{
    return (value >= bar->minimum() && value <= bar->maximum()) ||
           (bar->minimum() == 0 && bar->maximum() == 0);
}

void RunFrames::setCurrent(int value)
{
    if (accepts(currentBar, value)) {
        current = value;
        currentCame = true;
        due();
    }
}

void RunFrames::setTotal(int value)
{
    if (accepts(totalBar, value)) {
        total = value;
        totalValueCame = true;
    }
    // The times are reckoned afresh for every total that comes, shown or not.
    totalCame = true;
    due();
}

void RunFrames::setLine(const QString &text)
{
    line = text;
    lineCame = true;
    due();
}

// The first report after a quiet spell is shown at the next pass of the event
// loop; the ones that follow wait for the next frame.
void RunFrames::due()
{
    if (frame.isActive())
        return;
    const qint64 waitedNs = lastShown.isValid() ? lastShown.nsecsElapsed() : gapNs;
    frame.start(int((qMax<qint64>(0, gapNs - waitedNs) + nsPerMs - 1) / nsPerMs));
}

void RunFrames::show()
{
    frame.stop();
    lastShown.start();
    if (currentCame)
        setBarValue(currentBar, current);
    if (totalValueCame)
        setBarValue(totalBar, total);
    if (totalCame)
        totalShown();
    if (lineCame) {
        // In the operator's words; the run keeps and records its own.
        const QString shown = operatorlanguage::shown(line);
        lineShown(shown);
        statusLine->setText(shown);
    }
    currentCame = totalValueCame = totalCame = lineCame = false;
    // Laid out and painted now rather than at the next pass, so that what the
    // frame cost is known: a machine that takes long to draw one draws fewer,
    // and never spends more than its share of the time on them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(statusLine->window(), QEvent::UpdateRequest);
    gapNs = qMax(qint64(frameMs) * nsPerMs, lastShown.nsecsElapsed() * timeToFrames);
}
