// The program as main builds it (the same application, window and guards) with
// an operator added: given an update file, it types the name, releases Update
// and confirms, as a person at the window would. It tells its parent on
// standard error when it is ready for a signal:
//   rundriver: idle      (no file given; the event loop runs)
//   rundriver: running   (the run is under way)
//   rundriver: no run    (a box came instead of the confirmation; its text
//                         was told first as "rundriver: box: <text>")

#include "commandline.h"
#include "mainwindow.h"

#include <cstdio>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

const int pollIntervalMs = 10;

void tell(const char *state)
{
    std::fprintf(stderr, "rundriver: %s\n", state);
    std::fflush(stderr);
}

void startRun(MainWindow *window, const QString &path)
{
    window->findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->setText(path);

    // Confirms from inside the dialog's own event loop.
    auto *confirmer = new QTimer(window);
    QObject::connect(confirmer, &QTimer::timeout, confirmer, [confirmer] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            if (auto *box = qobject_cast<QMessageBox *>(dialog))
                tell(qPrintable(QStringLiteral("box: ") + box->text()));
            dialog->accept();
            confirmer->deleteLater();
        }
    });
    confirmer->start(pollIntervalMs);

    auto *update = window->findChild<QPushButton *>(QStringLiteral("startUpdateButton"));
    update->click();
    tell(update->isEnabled() ? "no run" : "running");
}

} // namespace

int main(int argc, char *argv[])
{
    applyForceFlag(argc, argv);

    auto *application = new QApplication(argc, argv);
    auto *window = new MainWindow;
    window->show();
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTimer::singleShot(0, window, [window, path] {
        if (path.isEmpty())
            tell("idle");
        else
            startRun(window, path);
    });
    const int result = application->exec();

    delete window;
    delete application;
    return result;
}
