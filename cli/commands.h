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

int update(const QString &path, bool yes, bool onlyChanged, CliOutput &out);

// What the trusted folders (the given ones, or those a check reads) hold.
int trust(const QStringList &directories, CliOutput &out);

} // namespace commands
