#include "runwatch.h"

#include <QAbstractButton>
#include <QEvent>

RunWatch::RunWatch(QAbstractButton *updateButton, QObject *parent)
    : QObject(parent), updateButton(updateButton), underWay(!updateButton->isEnabled())
{
    updateButton->installEventFilter(this);
}

bool RunWatch::runUnderWay() const
{
    return underWay;
}

bool RunWatch::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == updateButton && event->type() == QEvent::EnabledChange &&
        updateButton->isEnabled() == underWay) {
        underWay = !underWay;
        if (underWay)
            emit runStarted();
        else
            emit runEnded();
    }
    return QObject::eventFilter(watched, event);
}
