#include "forcemode.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    applyForceFlag(argc, argv);

    auto *application = new QApplication(argc, argv);
    auto *window = new MainWindow;
    window->show();
    const int result = application->exec();

    delete window;
    delete application;
    return result;
}
