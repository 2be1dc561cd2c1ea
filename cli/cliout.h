#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// What zarn-update writes: for people on a terminal one progress line redrawn
// in place, for people elsewhere plain lines, for tools JSON Lines events
// ({"event": "status" | "progress" | "image" | "result", ...}).
class CliOutput
{
public:
    enum class Mode { Terminal, Plain, Json };

    explicit CliOutput(bool json);

    Mode mode() const { return current; }

    // A line the operator reads: on standard output, or a "message" event.
    void line(const QString &text);
    // A problem: on standard error, or a "message" event with level "error".
    void error(const QString &text);
    // What does not stop the command but asks for action soon: on standard
    // error after "warning: ", or a "message" event with level "warning".
    void warning(const QString &text);
    void event(const QJsonObject &object);

    // For a command that ends with a failing status and has written no result
    // event: the result event of a refusal, with the last problem said; in
    // JSON output only.
    void endWithRefusal(int status);

    // The progress line on a terminal; nothing elsewhere.
    void progress(const QString &text);
    void endProgress();

private:
    Mode current;
    bool progressShown = false;
    bool resultWritten = false;
    QString lastProblem;
};
