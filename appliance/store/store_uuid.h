// Random identifiers for users (GUIDs) and cards (resource names).
#pragma once

#include <string>

namespace orva_store {

// A random (version 4) UUID as 36 lower-case characters.
std::string randomUuid();

}  // namespace orva_store
