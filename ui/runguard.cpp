#include "runguard.h"

#include "quitsignalguard.h"
#include "rundesktopreport.h"
#include "runinhibitor.h"
#include "runsession.h"

#include <QCloseEvent>
#include <QDBusConnection>
#include <QEvent>
#include <QMainWindow>
#include <QMessageBox>

RunGuard::RunGuard(QMainWindow *window, RunSession *session)
    : QObject(window), window(window), session(session)
{
    window->installEventFilter(this);
    new RunInhibitor(session, QDBusConnection::systemBus(), this);
    new QuitSignalGuard(session, this);
    new RunDesktopReport(window, session, QDBusConnection::sessionBus(), this);
}

bool RunGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window && event->type() == QEvent::Close && session->underWay()) {
        event->ignore();
        explainRefusal();
        return true;
    }
    if (watched == window && event->type() == QEvent::Close && session->lastRunFailed() &&
        !confirmCloseAfterFailure()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool RunGuard::confirmCloseAfterFailure()
{
    QMessageBox box(QMessageBox::Warning, tr("The update failed"),
                    tr("The last update did not finish: the flash memory is not as the update file wants it, "
                       "and the ZARN system may not start.\n\nRun the update again before restarting the "
                       "computer. Close the window anyway?"),
                    QMessageBox::Yes | QMessageBox::No, window);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void RunGuard::explainRefusal()
{
    QMessageBox::warning(window, tr("Update in progress"),
                         tr("An update is under way and the window cannot be closed now.\n\n"
                            "Closing it before the update has finished could leave the ZARN system unable "
                            "to start. Please wait until the update is done."));
}
