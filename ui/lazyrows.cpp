#include "lazyrows.h"

#include <algorithm>
#include <QEvent>
#include <QListWidget>
#include <QScrollBar>

namespace {

// Built at once, before the list has its final size: more than a dialog
// shows, so that a short list is complete from the start.
const int firstRows = 16;
// Built beyond the last visible row, so that scrolling finds them ready.
const int rowsAhead = 8;

} // namespace

LazyRows::LazyRows(QListWidget *list, QObject *parent)
    : QObject(parent), list(list), viewport(list->viewport())
{
    viewport->installEventFilter(this);
    connect(list->verticalScrollBar(), &QScrollBar::valueChanged, this, &LazyRows::buildVisible);
}

void LazyRows::reset(Factory rowFactory)
{
    factory = std::move(rowFactory);
    built = 0;
    const int count = std::min(firstRows, list->count());
    for (; built < count; ++built)
        list->setItemWidget(list->item(built), factory(built));
    buildVisible();
}

bool LazyRows::eventFilter(QObject *watched, QEvent *event)
{
    // Compared with the pointer kept: while the list is being destroyed its
    // viewport still sends events, and the list can no longer be asked.
    if (watched == viewport && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        buildVisible();
    return QObject::eventFilter(watched, event);
}

// Rows are built in order up to the last one in view: what lies above the
// view was built on the way down.
void LazyRows::buildVisible()
{
    if (!factory || built >= list->count())
        return;
    const QModelIndex lastShown = list->indexAt(QPoint(0, list->viewport()->height() - 1));
    const int last = lastShown.isValid() ? lastShown.row() : list->count() - 1;
    const int until = std::min(list->count(), last + 1 + rowsAhead);
    for (; built < until; ++built)
        list->setItemWidget(list->item(built), factory(built));
}
