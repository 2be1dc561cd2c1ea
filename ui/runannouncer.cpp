#include "runannouncer.h"

#include "operatorlanguage.h"
#include "runoutcome.h"
#include "runsession.h"
#include "runtexts.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QLabel>

namespace {

// A run's end as a notification of its own. Qt 5's AT-SPI bridge sends
// nothing for a QAccessible::Alert event and has no live-region attributes,
// and screen readers speak a name change only of the object that has the
// focus; an object of the notification role that becomes showing is what they
// present at once, wherever the focus is (Orca speaks it and keeps it in its
// list of notifications). It belongs to the window but is none of its
// children: it exists to be told.
class EndNotice final : public QAccessibleObject
{
public:
    EndNotice(QObject *notice, QWidget *window, const QString &words)
        : QAccessibleObject(notice), window(window), words(words)
    {
    }

    QAccessibleInterface *parent() const override
    {
        return window ? QAccessible::queryAccessibleInterface(window) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override { return t == QAccessible::Name ? words : QString(); }
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override { return QAccessible::State(); }

private:
    const QPointer<QWidget> window;
    const QString words;
};

} // namespace

RunAnnouncer::RunAnnouncer(RunSession *session, QLabel *statusLine, QObject *parent)
    : QObject(parent), statusLine(statusLine)
{
    connect(session, &RunSession::started, this, &RunAnnouncer::runStarted);
    connect(session, &RunSession::ended, this, &RunAnnouncer::runEnded);
}

std::shared_ptr<RunProgress> RunAnnouncer::follow(const QStringList &imageNames)
{
    names = imageNames;
    progress = std::make_shared<RunProgress>();
    return progress;
}

void RunAnnouncer::lineShown(const QString &line)
{
    // Only a run that says where it is is told as it goes; any other, at its end.
    if (!progress)
        return;
    const RunProgress::Where now = progress->where();
    if (toldAny && now.image == told.image && now.stage == told.stage)
        return;
    toldAny = true;
    told = now;
    const QString text = stageText(now, names);
    tell(text.isEmpty() ? line : text);
}

QString RunAnnouncer::stageText(RunProgress::Where where, const QStringList &imageNames)
{
    const QString number = QString::number(where.image);
    const QString count = QString::number(imageNames.size());
    const QString name = imageNames.value(where.image - 1);
    switch (where.stage) {
    case RunStage::Starting:
        break;
    case RunStage::Comparing:
        return tr("Comparing the flash memory with the update");
    case RunStage::Erasing:
        return tr("Erasing image %1 of %2, %3").arg(number, count, name);
    case RunStage::Writing:
        return tr("Writing image %1 of %2, %3").arg(number, count, name);
    case RunStage::Verifying:
        return tr("Verifying image %1 of %2, %3").arg(number, count, name);
    case RunStage::FinalCheck:
        return tr("Reading back the whole update");
    }
    return QString();
}

void RunAnnouncer::runStarted()
{
    toldAny = false;
}

void RunAnnouncer::runEnded(const RunOutcome &outcome)
{
    progress.reset();
    const QString lastLine = operatorlanguage::shown(outcome.lastLine);
    tell(lastLine);
    // After a failure, what the window's status bar says beside the error
    // line: that the system may not start, and what to do.
    const QString words = outcome.succeeded()
                              ? lastLine
                              : lastLine + QLatin1Char('\n') + operatorlanguage::shown(runEndText(outcome));
    delete notice;
    notice = new QObject(this);
    auto *const iface = new EndNotice(notice, statusLine->window(), words);
    QAccessible::registerAccessibleInterface(iface);
    QAccessibleEvent shown(iface, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

// Setting a name also keeps the label from announcing each new text itself,
// which it does only while it has none.
void RunAnnouncer::tell(const QString &text)
{
    if (!text.isEmpty() && text != statusLine->accessibleName())
        statusLine->setAccessibleName(text);
}
