// A user's collections in the server's storage folder (the contact store's
// collection-root): address books and calendars, as a client's discovery
// finds them. Reads hold the store's shared lock, changes its exclusive one,
// the same lock the server takes.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace orva_host {

// The calendar every user gets beside the address book "contacts".
constexpr const char* kDefaultCalendar = "calendar";

struct Collection {
  std::string name;         // folder name, the last part of its address
  std::string kind;         // "addressbook", "calendar" or "other"
  std::string displayName;  // D:displayname, "" when it has none
  int items = 0;            // cards, events or tasks it holds
};

// The user's collections in name order; {} for a user without any.
std::vector<Collection> userCollections(const std::string& user);

// Users that own a folder in the storage or an entry in the store's user
// map, in name order.
std::vector<std::string> storedUsers();

// Sets the user up as the module would (an address book and the store's
// user map) and adds the default calendar when the user has no calendar.
// False when either could not be made.
bool setUpUserCollections(const std::string& user);

enum class CollectionChange { kDone, kBadName, kExists, kMissing, kNotCalendar, kFailed };

// Makes a calendar (events and tasks) named name, shown as displayName.
CollectionChange createCalendar(const std::string& user, const std::string& name,
                                const std::string& displayName);
// Deletes a calendar with everything in it; address books are refused.
CollectionChange deleteCalendar(const std::string& user, const std::string& name);

// Deletes everything the user owns in the store: collections, user map
// entries and exports. False (logged) when something stayed.
bool deleteUserData(const std::string& user);

// A collection or calendar name that may be one folder: a plain name
// (no '/', '..', control character, blank at either end) that does not begin
// with '.' or end with '~', at most 100 bytes.
bool isPlainCollectionName(const std::string& name);

}  // namespace orva_host
