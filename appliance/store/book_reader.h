// Reading a whole address book folder at once.
#pragma once

#include <json/value.h>

#include <string>

namespace orva_store {

// Appends every card of the book folder, in byte order of the resource
// names, to ids (names) and texts (file contents). Entries the server
// ignores (leading '.', trailing '~') and anything but regular files are
// skipped. Returns the number appended; the caller holds the store lock.
int readBook(const std::string& dir, Json::Value& ids, Json::Value& texts);

}  // namespace orva_store
