// Preloaded by the tests into the real program, next to the simulated device,
// as the operator at its window. Boxes come up before main reaches its event
// loop (the missing-driver box, inside the window's constructor), so only
// something inside the process can answer them. It answers every modal
// message box with its first button and writes to standard error, as the
// tests' ModalWatcher records it but on one line,
//   programdriver: box QMessageBox|<title>|<text, line breaks as \n>|<icon>|<standard buttons>|<button
//   count>|<default>|<parent>
// Once the window is shown it says whether its icon has the sizes 16 and 256,
//   programdriver: icon 16:<0 or 1> 256:<0 or 1>
// then, with ZARNTEST_UPDATE_FILE set, it types that name, releases Update,
// accepts the confirmation and says "programdriver: running", or
// "programdriver: no run" when a box came instead; otherwise it says
// "programdriver: idle".
//
// With ZARN_BENCH_SHOWN_FD set it is the benchmarks' probe of a program's
// start instead, in any program with a window, and does nothing else: once the
// first window has been painted it writes "shown <monotonic ns>" on that
// descriptor and ends the program's event loop.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <unistd.h>

namespace {

const char shownFdVariable[] = "ZARN_BENCH_SHOWN_FD";

void tell(const QString &text)
{
    std::fprintf(stderr, "programdriver: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

void answer()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *box = qobject_cast<QMessageBox *>(modal); box && !box->buttons().isEmpty()) {
        // The informative text, when there is one, after the rest.
        const QString informative =
            box->informativeText().isEmpty() ? QString() : QLatin1Char('|') + box->informativeText();
        tell(QString::asprintf("box QMessageBox|%s|%s|%d|0x%x|%d|%d|%d%s", qPrintable(box->windowTitle()),
                               qPrintable(QString(box->text()).replace('\n', QLatin1String("\\n"))),
                               int(box->icon()), unsigned(box->standardButtons()), int(box->buttons().size()),
                               box->defaultButton() != nullptr, box->parentWidget() != nullptr,
                               qPrintable(informative)));
        // The operator came to update: an offer to recover an earlier update
        // waits for later, unless the test names the answer it wants.
        QAbstractButton *chosen = box->buttons().first();
        if (box->windowTitle() == QLatin1String("Update cut short")) {
            chosen = box->escapeButton();
            for (QAbstractButton *button : box->buttons())
                if (button->text() == qEnvironmentVariable("ZARNTEST_RECOVERY"))
                    chosen = button;
        }
        chosen->click();
    } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
        dialog->accept();
    }
}

// Whether it has done its part.
bool operate()
{
    QWidget *window = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->inherits("MainWindow") && widget->isVisible())
            window = widget;
    if (!window || QApplication::activeModalWidget())
        return false;
    // The window is up once the work it does after its first paint (its icon,
    // its guards, the history's notices) is done, as an operator would find it.
    for (const QObject *startup :
         window->findChildren<QObject *>(QStringLiteral("windowStartup"), Qt::FindDirectChildrenOnly))
        if (!startup->property("done").toBool())
            return false;
    const QList<QSize> sizes = window->windowIcon().availableSizes();
    tell(QString::asprintf("icon 16:%d 256:%d", sizes.contains(QSize(16, 16)),
                           sizes.contains(QSize(256, 256))));
    const QString path = qEnvironmentVariable("ZARNTEST_UPDATE_FILE");
    if (path.isEmpty()) {
        tell(QStringLiteral("idle"));
        return true;
    }
    window->findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"))->setText(path);
    auto *update = window->findChild<QPushButton *>(QStringLiteral("startUpdateButton"));
    update->click(); // returns once the confirmation or a box has been answered
    tell(update->isEnabled() ? QStringLiteral("no run") : QStringLiteral("running"));
    return true;
}

class ShownProbe final : public QObject
{
public:
    explicit ShownProbe(int fd) : QObject(qApp), fd(fd) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!armed || event->type() != QEvent::Paint || !watched->isWidgetType())
            return false;
        armed = false;
        // Stamped once the whole first paint pass (and its flush) is over.
        QTimer::singleShot(0, this, [this] {
            timespec now;
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            ::dprintf(fd, "shown %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            ::close(fd);
            QCoreApplication::quit();
        });
        return false;
    }

private:
    const int fd;
    bool armed = true;
};

// Runs as the application object comes up; the timers start in the first
// event loop, the box's own or the program's, when everything they need
// exists. Two of them: a timer is not run again while its own handler waits
// in a nested event loop, as operate() does in the confirmation's.
void install()
{
    if (const char *shownFd = std::getenv(shownFdVariable)) {
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            qApp->installEventFilter(new ShownProbe(std::atoi(shownFd)));
        return;
    }
    QMetaObject::invokeMethod(
        qApp,
        [] {
            auto *answerer = new QTimer(qApp);
            QObject::connect(answerer, &QTimer::timeout, qApp, answer);
            answerer->start(10);
            auto *operating = new QTimer(qApp);
            QObject::connect(operating, &QTimer::timeout, qApp, [operating] {
                if (operate())
                    operating->stop();
            });
            operating->start(10);
        },
        Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(install)
