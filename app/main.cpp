#include "commandline.h"
#include "deferrediconstyle.h"
#include "localnames.h"
#include "mainwindow.h"
#include "operatorlanguage.h"
#include "windowapplication.h"
#include "windowstartup.h"

#include <csignal>
#include <cstdlib>
#include <optional>
#include <QApplication>
#include <QIcon>

namespace {

// The icon theme's, as the package installs it; else the same icon compiled in.
QIcon applicationIcon()
{
    QIcon compiledIn;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        compiledIn.addFile(QStringLiteral(":/icons/zarn-update-utility-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("zarn-update-utility"), compiledIn);
}

} // namespace

int main(int argc, char *argv[])
{
    // A closed terminal or pipe behind the debug output must not end the
    // program during an update: a failed write is simply lost.
    std::signal(SIGPIPE, SIG_IGN);
    localnames::keepUndecodableBytes();
    const int answered = answerInformationRequest(argc, argv);
    if (answered >= 0)
        return answered;
    applyForceFlag(argc, argv);
    if (!haveDisplay(argc, argv))
        return EXIT_FAILURE;

    // Destroyed in the reverse order: the window, then the application.
    std::optional<DisplayFailureGuard> displayGuard(std::in_place);
    WindowApplication application(argc, argv);
    displayGuard.reset();
    // Before the first text is made: the window's, and the lines of its runs.
    operatorlanguage::install();
    // The style the toolkit would choose, its bars' arrows made when first drawn.
    QApplication::setStyle(new DeferredIconStyle);
    // Desktops tie the window to its menu entry by the entry's name.
    QGuiApplication::setDesktopFileName(QStringLiteral("zarn-update-utility"));
    MainWindow window;
    window.show();
    // The icon theme is looked through, and the icon's images read, once the
    // window has been painted; the window takes the icon then.
    new WindowStartup(&window, [] { QApplication::setWindowIcon(applicationIcon()); });
    return application.exec();
}
