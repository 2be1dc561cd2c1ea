#include "runoutcomeview.h"

#include "operatorlanguage.h"
#include "runsession.h"
#include "runtexts.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QStatusBar>

namespace {

// The palette has no colour for errors: a red that reads on its window
// colour, darker on light themes and lighter on dark ones.
QColor errorColour(const QPalette &palette)
{
    const bool darkTheme = palette.color(QPalette::Window).lightness() < 128;
    return darkTheme ? QColor(0xff, 0x7b, 0x72) : QColor(0xc0, 0x1c, 0x28);
}

} // namespace

const QString RunOutcomeView::failedText = QString::fromUtf8(runFailedText);
const QString RunOutcomeView::succeededText = QString::fromUtf8(runSucceededText);
const QString RunOutcomeView::notStartedText = QString::fromUtf8(runNotStartedText);

RunOutcomeView::RunOutcomeView(RunSession *session, QLabel *statusLine, QStatusBar *statusBar,
                               QObject *parent)
    : QObject(parent), statusLine(statusLine), statusBar(statusBar)
{
    connect(session, &RunSession::started, this, &RunOutcomeView::runStarted);
    connect(session, &RunSession::ended, this, &RunOutcomeView::runEnded);
}

void RunOutcomeView::runStarted()
{
    statusLine->setPalette(QPalette());
    statusBar->clearMessage();
}

void RunOutcomeView::runEnded(const RunOutcome &outcome)
{
    if (!outcome.succeeded()) {
        QPalette palette = statusLine->palette();
        palette.setColor(QPalette::WindowText, errorColour(palette));
        statusLine->setPalette(palette);
    }
    statusBar->showMessage(operatorlanguage::shown(runEndText(outcome)));
}
