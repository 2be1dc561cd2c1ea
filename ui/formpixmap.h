#pragma once

#include <QPixmap>

// The images of the forms, as their setup code asks for them by path. Read by
// the toolkit's own decoder for the name's format alone: a plain QPixmap from
// a path first loads every image-format plugin installed, to ask each whether
// it claims the format, and that costs more than the decoding; the
// premultiplying a transparent image needs for the screen is done here too, in
// place, where the toolkit would hand it to a pool of threads it starts for it.
QPixmap formPixmap(const char *path);
