// Keeping what a CardDAV/CalDAV client changed: the server's storage hook
// runs after every change it makes, under its exclusive hold of the store
// lock, and the collections of the signed-in user are compared with their
// histories. Whatever differs (a card or event added, changed or deleted,
// a collection made or deleted) is appended as one change by that user.
// The same comparison settles a change a killed hook left unkept: it is kept
// by the next run.
#pragma once

#include <string>

namespace orva_history {

// With the exclusive lock held (the hook's case). False when a history could
// not be written.
bool keepFolderChanges(const std::string& user, const std::string& maker);

}  // namespace orva_history
