#include "runguard.h"

#include "quitsignalguard.h"
#include "runinhibitor.h"
#include "runwatch.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QEvent>
#include <QMainWindow>
#include <QMessageBox>

RunGuard::RunGuard(QMainWindow *window, QAbstractButton *updateButton)
    : QObject(window), window(window), updateButton(updateButton)
{
    window->installEventFilter(this);

    auto *watch = new RunWatch(updateButton, this);
    new RunInhibitor(watch, QDBusConnection::systemBus(), this);
    new QuitSignalGuard(watch, this);
}

bool RunGuard::runUnderWay() const
{
    return !updateButton->isEnabled();
}

bool RunGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window && event->type() == QEvent::Close && runUnderWay()) {
        event->ignore();
        explainRefusal();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void RunGuard::explainRefusal()
{
    QMessageBox::warning(window, tr("Update in progress"),
                         tr("An update is under way and the window cannot be closed now.\n\n"
                            "Closing it before the update has finished could leave the ZARN system unable "
                            "to start. Please wait until the update is done."));
}
