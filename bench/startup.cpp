#include "startup.h"

#include "benchclock.h"
#include "benchformat.h"
#include "benchtable.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <QByteArray>
#include <QFile>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bench {

namespace {

const char shownFdVariable[] = "ZARN_BENCH_SHOWN_FD";
// A program that never shows its window is ended after this long.
constexpr int shownTimeoutMs = 30000;
constexpr double startupTarget = 1.5;
constexpr int startupRepetitions = 15;

// The parent's environment with the preloads, the offscreen platform and the
// probe's descriptor set, and no leftover settings of the simulated device.
std::vector<QByteArray> childEnvironment(const QStringList &preloads, int shownFd)
{
    std::vector<QByteArray> variables;
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray variable(*entry);
        if (variable.startsWith("LD_PRELOAD=") || variable.startsWith("QT_QPA_PLATFORM=") ||
            variable.startsWith(shownFdVariable) || variable.startsWith("ZARNSIM_"))
            continue;
        variables.push_back(variable);
    }
    variables.push_back("LD_PRELOAD=" + QFile::encodeName(preloads.join(QLatin1Char(':'))));
    variables.push_back("QT_QPA_PLATFORM=offscreen");
    variables.push_back(QByteArray(shownFdVariable) + '=' + QByteArray::number(shownFd));
    return variables;
}

} // namespace

qint64 timeToShown(const QString &program, const QStringList &arguments, const QStringList &preloads)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    const int readEnd = pipeFds[0];
    const int writeEnd = pipeFds[1];
    ::fcntl(readEnd, F_SETFD, FD_CLOEXEC);

    std::vector<QByteArray> variables = childEnvironment(preloads, writeEnd);
    std::vector<char *> envp;
    for (QByteArray &variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The product writes its diagnostics to stderr; the terminal is no part of its start.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    pid_t child = 0;
    const qint64 spawned = nowNs();
    const int error = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(writeEnd);
    if (error != 0) {
        ::close(readEnd);
        return -1;
    }

    QByteArray report;
    char chunk[64];
    for (;;) {
        pollfd ready{readEnd, POLLIN, 0};
        if (::poll(&ready, 1, shownTimeoutMs) == 0) {
            ::kill(child, SIGKILL);
            report.clear();
            break;
        }
        const ssize_t got = ::read(readEnd, chunk, sizeof chunk);
        if (got > 0)
            report.append(chunk, int(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    ::close(readEnd);
    int status = 0;
    ::waitpid(child, &status, 0);

    const QByteArray prefix("shown ");
    if (!report.startsWith(prefix))
        return -1;
    bool ok = false;
    const qint64 shown = report.mid(prefix.size()).trimmed().toLongLong(&ok);
    return ok ? shown - spawned : -1;
}

// 5. The real executable against a bare QMainWindow program, both started the
// same way; and, to tell the font system's share, a bare window with text.
void startup(Table &table)
{
    progress(QStringLiteral("start-up"));
    const QStringList preloads = {QStringLiteral(ZARN_BENCH_SIMULATOR), QStringLiteral(ZARN_BENCH_PROBE)};
    const QString product = QStringLiteral(ZARN_BENCH_PRODUCT);
    const QString bare = QStringLiteral(ZARN_BENCH_BARE_WINDOW);
    const QStringList withText = {QStringLiteral("--text")};
    // Warm the caches (fonts, libraries) for all three before counting.
    bench::timeToShown(product, {}, preloads);
    bench::timeToShown(bare, {}, preloads);
    bench::timeToShown(bare, withText, preloads);
    QVector<qint64> productNs;
    QVector<qint64> bareNs;
    QVector<qint64> textNs;
    for (int i = 0; i < startupRepetitions; ++i) {
        productNs.append(bench::timeToShown(product, {}, preloads));
        bareNs.append(bench::timeToShown(bare, {}, preloads));
        textNs.append(bench::timeToShown(bare, withText, preloads));
    }
    const QString figure = QStringLiteral("Process start to first window painted, offscreen (median of %1)")
                               .arg(startupRepetitions);
    if (productNs.contains(-1) || bareNs.contains(-1) || textNs.contains(-1)) {
        table.add({QStringLiteral("5"), figure, QStringLiteral("failed"), {}, {}, {}, QStringLiteral("NO")});
        return;
    }
    const double productMedian = bench::median(productNs);
    const double ratio = productMedian / double(bench::median(bareNs));
    table.add({QStringLiteral("5"), figure, ms(productMedian) + " (the utility)",
               ms(bench::median(bareNs)) + " (bare QMainWindow)", QString::number(ratio, 'f', 2) + " x",
               QStringLiteral("<= %1 x").arg(startupTarget), bench::verdict(ratio <= startupTarget)});
    const double textRatio = productMedian / double(bench::median(textNs));
    table.add({QStringLiteral("5"),
               QStringLiteral("The same, against a bare QMainWindow showing one line of text"),
               ms(productMedian) + " (the utility)", ms(bench::median(textNs)) + " (QMainWindow + QLabel)",
               QString::number(textRatio, 'f', 2) + " x", QStringLiteral("-"), QStringLiteral("-")});
}

} // namespace bench
