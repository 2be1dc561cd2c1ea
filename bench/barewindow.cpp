// The floors of the start-up figure: the least a Qt widget program does to
// show a main window; with --text, one that also shows a line of text, and so
// loads the font system as every window with text must. Built with
// ZARN_BENCH_FORM, it shows the utility's own form instead, as the form's
// code builds it, and runs none of the program: what the form costs alone.

#include <cstring>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#ifdef ZARN_BENCH_FORM
#include "ui_mainwindow.h"
#endif

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
#ifdef ZARN_BENCH_FORM
    Ui::MainWindow form;
    form.setupUi(&window);
#endif
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        window.setCentralWidget(new QLabel(QStringLiteral("ZARN Update Utility")));
    window.show();
    return application.exec();
}
