#pragma once

// The real programs in child processes on the simulated device, for the
// suites built with ZARN_UPDATE or ZARN_PROGRAM (and ZARNSIM_LIBRARY).

#include "runkit.h"

#include <csignal>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace runkit {

#ifdef ZARN_UPDATE
// zarn-update in a child process on the simulated device, as scripts run it:
// its flash kept in flashFile, its journal in journal() and its own state
// (the history of earlier releases) under stateDirectory, and no system bus
// unless a setting names one; standard output and error as one text.
struct CommandLine
{
    QString flashFile;
    QString stateDirectory;
    // When set, bash runs this with the program as $0 and the arguments after it.
    QString shell;
    QString output;

    QString journal() const { return stateDirectory + QStringLiteral("/journal"); }
    QString history() const { return journal() + QStringLiteral("/history"); }

    // settings: NAME=value, over the environment of the test.
    void start(QProcess &process, const QStringList &arguments, const QStringList &settings = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARNSIM_LIBRARY));
        environment.insert(QStringLiteral("ZARNSIM_FLASH_FILE"), flashFile);
        environment.insert(QStringLiteral("XDG_STATE_HOME"), stateDirectory);
        // There already, as the package leaves it: the programs would otherwise fall back.
        QDir().mkpath(journal());
        environment.insert(QStringLiteral("ZARN_JOURNAL_DIR"), journal());
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
        // As on a build machine: the update goes on without an inhibitor lock or a power check.
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent"));
        for (const QString &setting : settings)
            environment.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (shell.isEmpty())
            process.start(QStringLiteral(ZARN_UPDATE), arguments);
        else
            process.start(QStringLiteral("/bin/bash"),
                          QStringList{QStringLiteral("-c"), shell, QStringLiteral(ZARN_UPDATE)} + arguments);
    }
    // To its end, bounded (killed after), the event loop running meanwhile:
    // its exit status, or -1 when it did not end of itself.
    int run(QProcess &process, const QStringList &arguments, const QStringList &settings = {})
    {
        start(process, arguments, settings);
        return finish(process);
    }
    int finish(QProcess &process)
    {
        if (!testsupport::waitFor([&] { return process.state() == QProcess::NotRunning; }, runTimeoutMs))
            process.kill();
        process.waitForFinished();
        output = QString::fromLocal8Bit(process.readAll());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // Whether the flash file holds the images; the simulated device of the test is reset around it.
    bool flashHolds(const QList<updatefile::Image> &images) const
    {
        zarnsim::reset();
        const bool holds = zarnsim::setBackingFile(flashFile.toStdString()) && runkit::flashHolds(images);
        zarnsim::reset();
        return holds;
    }
};
#endif

#ifdef ZARN_PROGRAM
// The real program in a child process, offscreen, with the simulated device
// and the operator of programdriver.cpp preloaded, and all it has written to
// standard error.
struct Program
{
    QProcess process;
    QString output;

    // settings: NAME=value; true once it has said "programdriver: <state>", or at once without one.
    bool start(const QStringList &settings, const QString &state = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARNSIM_LIBRARY ":" PROGRAM_DRIVER));
        for (const QString &setting : settings)
            if (!setting.section('=', 1).isEmpty())
                environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
        process.setProcessEnvironment(environment);
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { output += QString::fromLocal8Bit(process.readAllStandardError()); });
        process.start(QStringLiteral(ZARN_PROGRAM), QStringList());
        const QString ready = "programdriver: " + state + '\n';
        return process.waitForStarted() &&
               (state.isEmpty() || testsupport::waitFor([&] { return output.contains(ready); }, 30000));
    }
    // Never to pid 0, once it has ended: that would signal this whole process group.
    bool signal(int number)
    {
        return process.processId() > 0 && ::kill(pid_t(process.processId()), number) == 0;
    }
    // Bounded; a program that does not end is killed. True when it ended of itself.
    bool end()
    {
        const bool ended =
            testsupport::waitFor([&] { return process.state() == QProcess::NotRunning; }, runTimeoutMs);
        if (!ended)
            process.kill();
        process.waitForFinished();
        output += QString::fromLocal8Bit(process.readAllStandardError());
        return ended && process.exitStatus() == QProcess::NormalExit;
    }
};
#endif

} // namespace runkit
