#pragma once

#include <QObject>

class QMainWindow;

// Keeps a running update from being cut short by the window closing.
class RunGuard final : public QObject
{
    Q_OBJECT

public:
    explicit RunGuard(QMainWindow *window);
};
