#pragma once

#include <functional>
#include <QObject>

class QEvent;
class QListWidget;
class QWidget;

// Builds the row widgets of a list only for the rows that come into view, so
// that a list of ten thousand images costs what one screenful costs. Rows
// keep their widget once built; reset() starts a new list.
class LazyRows final : public QObject
{
    Q_OBJECT

public:
    using Factory = std::function<QWidget *(int row)>;

    LazyRows(QListWidget *list, QObject *parent);

    // The list's items exist; their widgets come from factory as they show.
    void reset(Factory factory);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildVisible();

    QListWidget *list;
    QWidget *viewport;
    Factory factory;
    int built = 0; // rows 0 to built - 1 have their widget
};
