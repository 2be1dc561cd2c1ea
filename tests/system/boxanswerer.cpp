// Preloaded by the tests into the real program, next to the simulated device.
// The program's missing-driver box is modal and comes up inside the window's
// constructor, before main reaches the event loop, so nothing outside the
// process can answer it. This library answers every modal message box with its
// first button and writes one line per box to standard error:
//   boxanswerer: <icon>|<title>|<text, line breaks as \n>|<standard buttons>|<button
//   count>|<default>|<parent>

#include <cstdio>
#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QMessageBox>
#include <QTimer>

namespace {

const int pollIntervalMs = 10;

void answer()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box->buttons().isEmpty())
        return;
    QByteArray text = box->text().toUtf8();
    text.replace('\n', "\\n");
    std::fprintf(stderr, "boxanswerer: %d|%s|%s|0x%x|%d|%d|%d\n", int(box->icon()),
                 box->windowTitle().toUtf8().constData(), text.constData(), unsigned(box->standardButtons()),
                 int(box->buttons().size()), box->defaultButton() ? 1 : 0, box->parentWidget() ? 1 : 0);
    std::fflush(stderr);
    box->buttons().first()->click();
}

// Runs as the application object comes up. The timer is started from the
// first event loop, the box's own, when everything it needs exists.
void install()
{
    QMetaObject::invokeMethod(
        qApp,
        [] {
            auto *timer = new QTimer(qApp);
            QObject::connect(timer, &QTimer::timeout, qApp, answer);
            timer->start(pollIntervalMs);
        },
        Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(install)
