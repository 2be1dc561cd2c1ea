#pragma once

#include "imageheader.h"
#include "provenance.h"

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

// An update file as the commands take it: its bytes fixed once, checked as
// the run checks them. status is 0 when images and file are ready.
struct CheckedFile
{
    std::shared_ptr<const UpdateSnapshot> snapshot;
    QList<ImageHeader> images;
    std::unique_ptr<QFile> file;
    provenance::Verdict origin;
    int status = 0;
};
CheckedFile checkFile(const QString &path, CliOutput &out);

void printImages(const QList<ImageHeader> &images, CliOutput &out);

// How the operator asked for an update.
struct UpdateRequest
{
    bool yes = false;
    bool onlyChanged = false;
    bool allowOlderHardware = false;
    bool ignorePower = false;
    bool dryRun = false;
};

int update(const QString &path, const UpdateRequest &request, CliOutput &out);

// Whether the update suits this system now: its images' hardware requirements,
// then, with checkPower, the power. exitcode::success when it may go on (with
// the checks the operator passed over added to overrides); otherwise the exit
// status, the reason said.
int judgeSuitability(const QString &path, const QList<ImageHeader> &images, const UpdateRequest &request,
                     bool checkPower, QStringList *overrides, CliOutput &out);

// What an update would do, without unlocking, erasing or writing: the pages of
// each image it would erase and write (with onlyChanged, read from the flash),
// the totals and an estimate of the time. exitcode::success when an update
// would start.
int dryRun(const QString &path, const CheckedFile &checked, bool onlyChanged, CliOutput &out);

// What the trusted folders (the given ones, or those a check reads) hold.
int trust(const QStringList &directories, CliOutput &out);

} // namespace commands
