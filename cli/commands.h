#pragma once

#include "imageheader.h"
#include "preflight.h"
#include "runrecorder.h"

#include <memory>
#include <QList>
#include <QString>
#include <QStringList>

class CliOutput;
class QFile;
class UpdateSnapshot;

// The commands of zarn-update; each returns the program's exit status.
namespace commands {

int run(const QStringList &arguments);

// An update file as the commands take it: its bytes fixed once and checked
// as the run checks them, with what the request asked checked besides; the
// refusal is said. status is 0 when images and file are ready.
struct CheckedFile : preflight::Result
{
    int status = 0;
};
CheckedFile checkFile(const QString &path, const preflight::Request &request, CliOutput &out);

void printImages(const QList<ImageHeader> &images, CliOutput &out);

// How the operator asked for an update.
struct UpdateRequest
{
    bool yes = false;
    bool onlyChanged = false;
    bool allowOlderHardware = false;
    bool allowDowngrade = false;
    bool ignorePower = false;
    bool dryRun = false;
    // Go on without the recovery copies when the journal has no room for them.
    bool noRecoveryCopy = false;
};

int update(const QString &path, const UpdateRequest &request, CliOutput &out);

// Whether the operator goes on: --yes, or "y" to the question on a terminal; said when not.
bool confirmed(const UpdateRequest &request, const QString &question, CliOutput &out);

// What a run is to the journal, beside its bytes.
struct RunJournal
{
    QString signer;
    RunRecorder::Journal record;
    QString keptSha256;
    bool restoring = false;
};

// Runs the update of snapshot with its surroundings (the session, the deferred
// signals, the inhibitor lock, the history), shows it and tells how it ended;
// the exit status.
int runAndTell(const QString &path, std::shared_ptr<const UpdateSnapshot> snapshot,
               const QList<ImageHeader> &images, const RunJournal &journal, const UpdateRequest &request,
               QStringList overrides, CliOutput &out);

// Finishes the newest update that did not end verified, from its recovery copy.
int resume(const UpdateRequest &request, CliOutput &out);
// Writes back what the flash held before the newest update; id, when given, must name it.
int restore(const QString &id, const UpdateRequest &request, CliOutput &out);

// Passes over the concerns of the checks the operator asked to, saying so and
// adding them to overrides; exitcode::success when all were, otherwise the
// status, the first one that was not said.
int passConcerns(const QString &path, const QList<preflight::Concern> &concerns, const UpdateRequest &request,
                 QStringList *overrides, CliOutput &out);

// What an update would do, without unlocking, erasing or writing: the pages of
// each image it would erase and write (with onlyChanged, read from the flash),
// the totals and an estimate of the time. exitcode::success when an update
// would start.
int dryRun(const QString &path, const CheckedFile &checked, bool onlyChanged, CliOutput &out);

// What the trusted folders (the given ones, or those a check reads) hold.
int trust(const QStringList &directories, CliOutput &out);

} // namespace commands
