#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QDBusPendingCallWatcher;
class QWidget;
class RunSession;
struct RunOutcome;

// Tells the desktop about an update run over the session bus. While the run is
// under way, the application's task bar entry shows how far it has gone, as the
// window's total progress bar does (the launcher entry signal that docks
// follow), at most once a frame however fast the run goes; when it ends, the
// entry's bar goes. If the window is not the active one when the run ends, a
// notification says whether the update succeeded, so an operator who has
// turned to something else learns it. Without a session bus the desktop is
// told nothing and the run goes on as it always did.
class RunDesktopReport final : public QObject
{
    Q_OBJECT

public:
    // window: the one whose activity decides the notice; bus: the session bus in the product.
    RunDesktopReport(QWidget *window, RunSession *session, const QDBusConnection &bus, QObject *parent);

private:
    void runStarted();
    void progressChanged(int percent);
    void frameDue();
    void runEnded(const RunOutcome &outcome);
    void sendProgress(bool visible);
    void sendNotice(const RunOutcome &outcome);
    void noticeReplied(QDBusPendingCallWatcher *reply);
    bool busConnected();

    QWidget *window;
    QDBusConnection bus;
    bool underWay = false;
    int shownPercent = 0;
    // The latest percent, sent once the frame the last one went in is over.
    int percent = 0;
    QTimer frame;
    QElapsedTimer lastSent;
    // The last notice the server showed: the next run's replaces it.
    uint noticeId = 0;
    bool toldNoBus = false;
};
