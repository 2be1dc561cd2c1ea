#pragma once

#include "operatorlanguage.h"

namespace clicatalogue {

// The lines zarn-update makes for a person to read, in English as it makes
// them; the lower rooms' own lines are in run/linecatalogue.cpp.
operatorlanguage::Catalogue commandLine();

} // namespace clicatalogue
