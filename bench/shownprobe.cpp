// Preloaded into a program to time its start: reports, on the descriptor named
// by ZARN_BENCH_SHOWN_FD, the monotonic time at which its first window has been
// painted, then ends the program's event loop. The program itself is unchanged.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <unistd.h>

namespace {

const char shownFdVariable[] = "ZARN_BENCH_SHOWN_FD";

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

void installProbe()
{
    const char *value = std::getenv(shownFdVariable);
    if (!value || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    qApp->installEventFilter(new ShownProbe(std::atoi(value)));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
