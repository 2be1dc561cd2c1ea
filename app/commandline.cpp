#include "commandline.h"

#include "operatorlanguage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <QDebug>
#include <QString>
#include <QtGlobal>
#include <unistd.h>

bool applyForceFlag(int argc, char *argv[])
{
    // Without arguments argv[1] is the vector's terminating null pointer,
    // which becomes a null string and matches nothing.
    const QString first = QString::fromUtf8(argc > 1 ? argv[1] : nullptr);
    if (first == QLatin1String("-f") || first == QLatin1String("--force")) {
        qDebug() << "openWithoutDriver: ON";
        openWithoutDriver = true;
    }
    return openWithoutDriver;
}

namespace {

const char programName[] = "zarn-update-utility";

const char helpText[] = QT_TRANSLATE_NOOP(
    "zarn-update-utility", "Usage: zarn-update-utility [-f | --force] [toolkit options]\n"
                           "\n"
                           "Shows the versions installed on the ZARN system and updates its flash memory\n"
                           "from an update file (.zarnru). Needs read and write access to /dev/zarn_flash\n"
                           "and /dev/zarn_mailbox (membership of the group zarn).\n"
                           "\n"
                           "  -f, --force  keep the window open when the ZARN driver cannot be reached\n"
                           "  --help       show this help and exit\n"
                           "  --version    show the version and exit\n"
                           "\n"
                           "Only the first argument is looked at; the toolkit's own options (-platform,\n"
                           "-style, ...) are passed on. See zarn-update-utility(1).\n");

bool isSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

void noDisplay(const char *why)
{
    const QString line =
        operatorlanguage::early("zarn-update-utility",
                                QT_TRANSLATE_NOOP("zarn-update-utility", "%1: cannot open the window: %2"))
            .arg(QLatin1String(programName), operatorlanguage::early("zarn-update-utility", why));
    std::fprintf(stderr, "%s\n", qPrintable(line));
}

QtMessageHandler previousHandler = nullptr;

void displayFailureHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg) {
        noDisplay(QT_TRANSLATE_NOOP(
            "zarn-update-utility",
            "no display could be reached (is the X server or Wayland compositor running?)"));
        std::fflush(stderr);
        ::_exit(EXIT_FAILURE);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

int answerInformationRequest(int argc, char *argv[])
{
    const char *first = argc > 1 ? argv[1] : nullptr;
    if (!first)
        return -1;
    if (std::strcmp(first, "--help") == 0) {
        std::fputs(qPrintable(operatorlanguage::early("zarn-update-utility", helpText)), stdout);
        return EXIT_SUCCESS;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("%s %s (build %d)\n", programName, ZARN_VERSION, ZARN_BUILD_NUMBER);
        return EXIT_SUCCESS;
    }
    return -1;
}

bool haveDisplay(int argc, char *argv[])
{
    if (isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    noDisplay(
        QT_TRANSLATE_NOOP("zarn-update-utility", "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)"));
    return false;
}

DisplayFailureGuard::DisplayFailureGuard()
{
    previousHandler = qInstallMessageHandler(displayFailureHandler);
}

DisplayFailureGuard::~DisplayFailureGuard()
{
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}
