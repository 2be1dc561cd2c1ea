#pragma once

#include "imageheader.h"
#include "runhistory.h"
#include "runrecorder.h"

#include <memory>
#include <optional>
#include <QList>
#include <QString>

class QMessageBox;
class QWidget;
class UpdateSnapshot;

// What the window offers at start when the newest update did not end
// verified and the journal kept its copies: to finish it, or to put back what
// the flash held before it.
namespace recoveryoffer {

struct Pending
{
    HistoryEntry entry;
    bool canFinish = false;
    bool canRestore = false;
};

// The newest entry, when it is such an update and no run holds it.
std::optional<Pending> pending();

enum class Choice { Finish, Restore, Later };

// The box, not shown yet: "Later" is its default and its Escape; answered
// is called with the operator's choice, and the box deletes itself.
QMessageBox *box(QWidget *parent, const Pending &pending, std::function<void(Choice)> answered);

// The kept copy to write for choice, read and checked against the history:
// empty with snapshot, images and the journal's part set, or the refusal.
struct Run
{
    QString path;
    std::shared_ptr<const UpdateSnapshot> snapshot;
    QList<ImageHeader> images;
    RunRecorder::Journal journal;
    QString keptSha256;
    bool restoring = false;
};
QString prepare(const Pending &pending, Choice choice, Run *run);

} // namespace recoveryoffer
