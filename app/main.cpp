#include "commandline.h"
#include "mainwindow.h"

#include <cstdlib>
#include <optional>
#include <QApplication>

int main(int argc, char *argv[])
{
    const int answered = answerInformationRequest(argc, argv);
    if (answered >= 0)
        return answered;
    applyForceFlag(argc, argv);
    if (!haveDisplay(argc, argv))
        return EXIT_FAILURE;

    // Destroyed in the reverse order: the window, then the application.
    std::optional<DisplayFailureGuard> displayGuard(std::in_place);
    QApplication application(argc, argv);
    displayGuard.reset();
    MainWindow window;
    window.show();
    return application.exec();
}
