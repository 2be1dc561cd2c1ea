#pragma once

#include "runhistory.h"

#include <QJsonObject>

// The fields of an entry that concern recovery: its kind, its copies, its
// plan and the entries it follows or settles, read and written beside the rest.
namespace journalfields {

void read(const QJsonObject &object, HistoryEntry *entry);
void write(const HistoryEntry &entry, QJsonObject *object);

} // namespace journalfields
