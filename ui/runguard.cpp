#include "runguard.h"

#include <QMainWindow>

RunGuard::RunGuard(QMainWindow *window) : QObject(window) {}
