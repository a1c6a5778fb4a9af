// The user-to-GUID map. It lives outside the server's collection-root, as
// two folders of one small file per entry: users/by-name/<user> holds the
// GUID, users/by-guid/<guid> the user name. An entry counts only when both
// files agree, and set-up writes the by-name file last, so a GUID that is
// handed out always names a user whose address book is ready.
#pragma once

#include <string>

#include "appliance/store/store_files.h"

namespace orva_store {

// The caller holds the store lock (shared or exclusive) for these.
// The user's GUID, "" when the user is unknown or the name not acceptable.
std::string guidOfUser(const std::string& user);
// The user name for a GUID, "" when the GUID is unknown or malformed.
std::string userOfGuid(const std::string& guid);

// With the exclusive lock held: creates the user's address book folder and
// its properties (when missing) and the map entry (when missing). True when
// the user has a GUID and a book afterwards.
bool setupUser(const std::string& user, FolderSync& sync);

}  // namespace orva_store
