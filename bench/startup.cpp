#include "startup.h"

#include "benchclock.h"
#include "benchformat.h"
#include "benchtable.h"
#include "instructionbench.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <QByteArray>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVector>
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

// A program started for the start-up figure, and its times.
struct Program
{
    QString path;
    QStringList arguments;
    QVector<qint64> ns;
    qint64 instructions = -1;
};

// The instructions each program runs from its start to its first window
// painted, counted by callgrind: a figure the machine's load does not move.
// False when valgrind is missing or a count failed.
bool instructionsToShown(const QVector<Program *> &programs, const QStringList &preloads)
{
    if (QStandardPaths::findExecutable(QStringLiteral("valgrind")).isEmpty())
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LD_PRELOAD"));
    for (const QString &name : environment.keys())
        if (name.startsWith(QLatin1String("ZARNSIM_")))
            environment.remove(name);
    environment.insert(QStringLiteral("LD_PRELOAD"), preloads.join(QLatin1Char(':')));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The probe's word goes to standard output, which the count discards.
    environment.insert(QLatin1String(shownFdVariable), QStringLiteral("1"));
    QTemporaryDir workDir;
    if (!workDir.isValid())
        return false;
    for (Program *program : programs) {
        program->instructions = instructions(program->path, program->arguments, environment,
                                             workDir.filePath(QStringLiteral("callgrind.out")));
        if (program->instructions < 0)
            return false;
    }
    return true;
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
// same way; to tell the font system's share, a bare window with text; and, to
// tell what the program adds to its form, the form shown by a program that
// builds it and does nothing else.
void startup(Table &table)
{
    progress(QStringLiteral("start-up"));
    const QStringList preloads = {QStringLiteral(ZARN_BENCH_SIMULATOR), QStringLiteral(ZARN_BENCH_PROBE)};
    Program product{QStringLiteral(ZARN_BENCH_PRODUCT), {}, {}};
    Program bare{QStringLiteral(ZARN_BENCH_BARE_WINDOW), {}, {}};
    Program text{QStringLiteral(ZARN_BENCH_BARE_WINDOW), {QStringLiteral("--text")}, {}};
    Program form{QStringLiteral(ZARN_BENCH_FORM_WINDOW), {}, {}};
    const QVector<Program *> programs = {&product, &bare, &text, &form};
    // Warm the caches (fonts, libraries) for all of them before counting.
    for (Program *program : programs)
        bench::timeToShown(program->path, program->arguments, preloads);
    for (int i = 0; i < startupRepetitions; ++i)
        for (Program *program : programs)
            program->ns.append(bench::timeToShown(program->path, program->arguments, preloads));
    const QString figure = QStringLiteral("Process start to first window painted, offscreen (median of %1)")
                               .arg(startupRepetitions);
    for (const Program *program : programs) {
        if (program->ns.contains(-1)) {
            table.add(
                {QStringLiteral("5"), figure, QStringLiteral("failed"), {}, {}, {}, QStringLiteral("NO")});
            return;
        }
    }
    const double productMedian = bench::median(product.ns);
    const QString utility = ms(productMedian) + " (the utility)";
    const auto against = [productMedian](const Program &floor) {
        return QString::number(productMedian / double(bench::median(floor.ns)), 'f', 2) + " x";
    };
    const double ratio = productMedian / double(bench::median(bare.ns));
    table.add({QStringLiteral("5"), figure, utility, ms(bench::median(bare.ns)) + " (bare QMainWindow)",
               against(bare), QStringLiteral("<= %1 x").arg(startupTarget),
               bench::verdict(ratio <= startupTarget)});
    table.add({QStringLiteral("5"),
               QStringLiteral("The same, against a bare QMainWindow showing one line of text"), utility,
               ms(bench::median(text.ns)) + " (QMainWindow + QLabel)", against(text), QStringLiteral("-"),
               QStringLiteral("-")});
    table.add({QStringLiteral("5"),
               QStringLiteral("The same, against a QMainWindow showing the utility's form and nothing else "
                              "(the form alone: %1 x the bare QMainWindow)")
                   .arg(double(bench::median(form.ns)) / double(bench::median(bare.ns)), 0, 'f', 2),
               utility, ms(bench::median(form.ns)) + " (the form alone)", against(form), QStringLiteral("-"),
               QStringLiteral("-")});

    progress(QStringLiteral("start-up under callgrind"));
    QString counted = QStringLiteral("The same, in instructions counted by valgrind --tool=callgrind");
    if (!instructionsToShown(programs, preloads)) {
        table.add({QStringLiteral("5"),
                   counted,
                   QStringLiteral("valgrind is missing or failed"),
                   {},
                   {},
                   {},
                   QStringLiteral("-")});
        return;
    }
    const auto times = [](const Program &program, const Program &floor) {
        return double(program.instructions) / double(floor.instructions);
    };
    counted +=
        QStringLiteral(" (the form alone: %1 x the bare QMainWindow)").arg(times(form, bare), 0, 'f', 2);
    const auto millions = [](const Program &program) {
        return QString::number(double(program.instructions) / 1e6, 'f', 1) + " M";
    };
    table.add({QStringLiteral("5"), counted, millions(product) + " (the utility)",
               QStringLiteral("%1 (bare), %2 (with text), %3 (the form alone)")
                   .arg(millions(bare), millions(text), millions(form)),
               QStringLiteral("%1 x / %2 x / %3 x")
                   .arg(times(product, bare), 0, 'f', 2)
                   .arg(times(product, text), 0, 'f', 2)
                   .arg(times(product, form), 0, 'f', 2),
               QStringLiteral("-"), QStringLiteral("-")});
}

} // namespace bench
