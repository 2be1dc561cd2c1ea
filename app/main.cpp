#include "commandline.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    applyForceFlag(argc, argv);

    // Destroyed in the reverse order: the window, then the application.
    QApplication application(argc, argv);
    MainWindow window;
    window.show();
    return application.exec();
}
