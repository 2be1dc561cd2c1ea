#pragma once

#include <QStringList>

namespace Ui {
class ImageInfoDialog;
class ImageItem;
class MainWindow;
} // namespace Ui

// What a screen reader says of the forms. The forms label their fields with
// labels that assistive technology cannot tie to the field, leave the browse
// button as "...", the logo unnamed and the dialog's rows as empty items, and
// disable the fields the operator only reads: these add buddies, names and
// descriptions, make those fields read-only instead, and change no text,
// object or layout of a form.
namespace accessiblenames {

void describe(Ui::MainWindow *form);
void describe(Ui::ImageInfoDialog *form);
void describe(Ui::ImageItem *form);

// Once a run has ended: the time labels' names as the run left them, for the
// clients that keep the names they were told.
void timesSettled(Ui::MainWindow *form);

// The five texts of an image row (name, version, minimum hardware, address,
// size) as one line, labelled as the row form labels them.
QString imageRow(const QStringList &texts);

} // namespace accessiblenames
