#pragma once

#include "operatorlanguage.h"

namespace linecatalogue {

// The lines that the device, the update file, its origin, the history, the
// engine and the run's checks make in English.
operatorlanguage::Catalogue lowerRooms();

} // namespace linecatalogue
