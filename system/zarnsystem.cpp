#include "zarnsystem.h"

int ZARNsystem::getSystemVersion(QString *, QString *, QString *) { return -1; }
