#include "clicatalogue.h"
#include "commands.h"
#include "localnames.h"
#include "operatorlanguage.h"

#include <csignal>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QStringList>

// zarn-update: the update utility's command line, for scripts and for systems
// looked after from afar. Qt Core and the engine, no window.
int main(int argc, char *argv[])
{
    // Whoever reads the output may go away (a pipe to head, a dropped ssh
    // session) while the flash is half written: the update goes on, its output
    // is lost, and the exit status and the history tell how it ended.
    std::signal(SIGPIPE, SIG_IGN);
    localnames::keepUndecodableBytes();
    // The plain event dispatcher wakes the loop once for a batch of the
    // worker's reports, where the GLib one wakes it for each; the command line
    // has no dialogs that would want GLib.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    // Only what a person reads is translated: JSON, exit statuses and the
    // history stay in the words scripts expect.
    if (operatorlanguage::install())
        operatorlanguage::addCatalogue(clicatalogue::commandLine());
    // Diagnostics of the engine stay out of the output, as the window keeps
    // them out of sight; QT_LOGGING_RULES still brings them back.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    return commands::run(application.arguments().mid(1));
}
