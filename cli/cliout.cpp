#include "cliout.h"

#include "exitcodes.h"
#include "localnames.h"
#include "operatorlanguage.h"

#include <cstdio>
#include <QJsonDocument>
#include <unistd.h>

CliOutput::CliOutput(bool json)
    : current(json ? Mode::Json : (::isatty(STDOUT_FILENO) ? Mode::Terminal : Mode::Plain))
{
}

void CliOutput::line(const QString &text)
{
    if (current == Mode::Json) {
        event({{"event", "message"}, {"level", "info"}, {"text", text}});
        return;
    }
    endProgress();
    std::fprintf(stdout, "%s\n", qPrintable(localnames::printable(operatorlanguage::shown(text))));
    std::fflush(stdout);
}

void CliOutput::error(const QString &text)
{
    lastProblem = text;
    if (current == Mode::Json) {
        event({{"event", "message"}, {"level", "error"}, {"text", text}});
        return;
    }
    endProgress();
    std::fprintf(stderr, "zarn-update: %s\n",
                 qPrintable(localnames::printable(operatorlanguage::shown(text))));
    std::fflush(stderr);
}

void CliOutput::warning(const QString &text)
{
    if (current == Mode::Json) {
        event({{"event", "message"}, {"level", "warning"}, {"text", text}});
        return;
    }
    error(QStringLiteral("warning: ") + text);
}

void CliOutput::event(const QJsonObject &object)
{
    if (object.value(QLatin1String("event")).toString() == QLatin1String("result"))
        resultWritten = true;
    std::fprintf(stdout, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

void CliOutput::endWithRefusal(int status)
{
    if (current != Mode::Json || resultWritten)
        return;
    event({{"event", "result"},
           {"result", "failed"},
           {"outcome", QLatin1String(exitcode::outcomeName(status))},
           {"flashTouched", false},
           {"exitCode", status},
           {"lastLine", lastProblem},
           {"historyRecorded", false}});
}

void CliOutput::progress(const QString &text)
{
    if (current != Mode::Terminal)
        return;
    // Back to the line's start, the line, and the rest of any longer line cleared.
    std::fprintf(stdout, "\r%s\033[K", qPrintable(localnames::printable(operatorlanguage::shown(text))));
    std::fflush(stdout);
    progressShown = true;
}

void CliOutput::endProgress()
{
    if (!progressShown)
        return;
    std::fputc('\n', stdout);
    progressShown = false;
}
