// Reading a whole address book folder at once.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace orva_store {

// Appends every card of the book folder, in byte order of the resource
// names, to ids (names) and texts (file contents). Entries the server
// ignores (leading '.', trailing '~') and anything but regular files are
// skipped. Returns the number appended; the caller holds the store lock.
int readBook(const std::string& dir, Json::Value& ids, Json::Value& texts);

// The same for the cards at positions offset to offset + limit - 1 of that
// order only; the others are not opened. Returns the number of cards in the
// whole book.
// known, when given, keeps the book's sorted names from one window to the
// next of one walk through the book (a search), so that the folder is listed
// once while it does not change.
struct BookNames {
  std::string dir;
  std::vector<std::string> names;
  timespec changed{};
  bool sorted = false;
};

int readBookWindow(const std::string& dir, std::size_t offset, std::size_t limit, Json::Value& ids,
                   Json::Value& texts, BookNames* known = nullptr);

}  // namespace orva_store
