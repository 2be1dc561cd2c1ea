#include "rundesktopreport.h"

#include "operatorlanguage.h"
#include "runsession.h"
#include "runtexts.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>

namespace {

// The entry is known to docks by the application's desktop file; the path is
// the utility's own.
const char *const launcherPath = "/com/canonical/unity/launcherentry/zarn_update_utility";
const char *const launcherInterface = "com.canonical.Unity.LauncherEntry";
const char *const launcherSignal = "Update";
const char *const applicationUri = "application://zarn-update-utility.desktop";

const char *const notificationsService = "org.freedesktop.Notifications";
const char *const notificationsPath = "/org/freedesktop/Notifications";
const char *const notificationsInterface = "org.freedesktop.Notifications";
const char *const notifyMethod = "Notify";
const char *const applicationName = "ZARN Update Utility";
const char *const applicationIcon = "zarn-update-utility";
const char *const desktopEntry = "zarn-update-utility";
const uchar normalUrgency = 1;
const uchar criticalUrgency = 2;
// The server decides how long the notice stays.
const int serverChosenExpiry = -1;
// The call is asynchronous; the timeout only bounds how long an unanswered one is kept.
const int noticeReplyTimeoutMs = 5000;
// No more than 60 signals a second: a dock redraws no faster, and each costs a write to the bus.
const int frameMs = 17;

} // namespace

RunDesktopReport::RunDesktopReport(QWidget *window, RunSession *session, const QDBusConnection &bus,
                                   QObject *parent)
    : QObject(parent), window(window), bus(bus)
{
    connect(session, &RunSession::started, this, &RunDesktopReport::runStarted);
    connect(session, &RunSession::progressed, this, &RunDesktopReport::progressChanged);
    connect(session, &RunSession::ended, this, &RunDesktopReport::runEnded);
    frame.setSingleShot(true);
    frame.setTimerType(Qt::PreciseTimer); // a coarse one may fire early
    connect(&frame, &QTimer::timeout, this, &RunDesktopReport::frameDue);
}

void RunDesktopReport::runStarted()
{
    underWay = true;
    shownPercent = percent = 0;
    sendProgress(true);
}

void RunDesktopReport::progressChanged(int percent)
{
    if (!underWay)
        return;
    this->percent = percent;
    if (frame.isActive())
        return;
    // At once after a quiet frame, so that even a short run is seen moving.
    const qint64 since = lastSent.isValid() ? lastSent.elapsed() : frameMs;
    if (since >= frameMs)
        frameDue();
    else
        frame.start(int(frameMs - since));
}

// The bar only says when its value changes; a run that is back at the percent
// it last sent is not passed on.
void RunDesktopReport::frameDue()
{
    if (!underWay || percent == shownPercent)
        return;
    shownPercent = percent;
    sendProgress(true);
}

void RunDesktopReport::runEnded(const RunOutcome &outcome)
{
    // Where the run got to, as the window's bars show it at the end, before the bar goes.
    if (frame.isActive())
        frameDue();
    frame.stop();
    underWay = false;
    sendProgress(false);
    if (!window->isActiveWindow())
        sendNotice(outcome);
}

void RunDesktopReport::sendProgress(bool visible)
{
    lastSent.start();
    if (!busConnected())
        return;
    QDBusMessage update = QDBusMessage::createSignal(
        QLatin1String(launcherPath), QLatin1String(launcherInterface), QLatin1String(launcherSignal));
    const QVariantMap properties{{QStringLiteral("progress"), shownPercent / 100.0},
                                 {QStringLiteral("progress-visible"), visible}};
    update << QString::fromLatin1(applicationUri) << properties;
    bus.send(update);
}

void RunDesktopReport::sendNotice(const RunOutcome &outcome)
{
    const bool succeeded = outcome.succeeded();
    if (!busConnected())
        return;
    QDBusMessage notify =
        QDBusMessage::createMethodCall(QLatin1String(notificationsService), QLatin1String(notificationsPath),
                                       QLatin1String(notificationsInterface), QLatin1String(notifyMethod));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QString::fromLatin1(desktopEntry)},
        {QStringLiteral("urgency"), QVariant::fromValue(succeeded ? normalUrgency : criticalUrgency)}};
    notify << QString::fromLatin1(applicationName) << noticeId << QString::fromLatin1(applicationIcon)
           << (succeeded              ? tr("ZARN update complete")
               : outcome.flashTouched ? tr("ZARN update failed")
                                      : tr("ZARN update did not start"))
           << operatorlanguage::shown(runEndText(outcome)) << QStringList() << hints << serverChosenExpiry;
    auto *reply = new QDBusPendingCallWatcher(bus.asyncCall(notify, noticeReplyTimeoutMs), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this, &RunDesktopReport::noticeReplied);
}

void RunDesktopReport::noticeReplied(QDBusPendingCallWatcher *reply)
{
    reply->deleteLater();
    const QDBusPendingReply<uint> answer = *reply;
    if (answer.isError())
        qDebug() << QStringLiteral("The desktop did not show the end of the run: ") +
                        answer.error().message();
    else
        noticeId = answer.value();
}

// Says once that there is no session bus, and nothing more.
bool RunDesktopReport::busConnected()
{
    if (bus.isConnected())
        return true;
    if (!toldNoBus)
        qDebug() << "No session bus: the desktop is not told of the update runs";
    toldNoBus = true;
    return false;
}
