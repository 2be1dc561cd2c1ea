// The floors of the start-up figure: the least a Qt widget program does to
// show a main window; with --text, one that also shows a line of text, and so
// loads the font system as every window with text must.

#include <cstring>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        window.setCentralWidget(new QLabel(QStringLiteral("ZARN Update Utility")));
    window.show();
    return application.exec();
}
