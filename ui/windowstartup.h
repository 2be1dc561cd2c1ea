#pragma once

#include <functional>
#include <QObject>

class QEvent;
class QWidget;

// What a window does once it has been painted for the first time, so that the
// operator sees it as soon as it can be drawn: the work that can wait (a look
// through files, bus connections, icon look-ups) runs right after that first
// paint, and at the latest when finish() is asked for.
class WindowStartup final : public QObject
{
public:
    WindowStartup(QWidget *window, std::function<void()> work);

    // Runs the work now, unless it has run already.
    void finish();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> work;
};
