#include "windowstartup.h"

#include <QEvent>
#include <QTimer>
#include <QVariant>
#include <QWidget>

WindowStartup::WindowStartup(QWidget *window, std::function<void()> work)
    : QObject(window), work(std::move(work))
{
    // Named and marked once done, for whoever must wait for a window that is fully up.
    setObjectName(QStringLiteral("windowStartup"));
    window->installEventFilter(this);
}

void WindowStartup::finish()
{
    if (!work)
        return;
    parent()->removeEventFilter(this);
    const std::function<void()> once = std::move(work);
    work = nullptr;
    once();
    setProperty("done", true);
}

bool WindowStartup::eventFilter(QObject *watched, QEvent *event)
{
    // A top-level window's backing store paints its widgets while it handles
    // this event; what is queued now runs once that paint is over, and the
    // work waits one pass more, behind whatever the paint itself queued.
    if (watched == parent() && event->type() == QEvent::UpdateRequest)
        QTimer::singleShot(0, this, [this] { QTimer::singleShot(0, this, &WindowStartup::finish); });
    return QObject::eventFilter(watched, event);
}
