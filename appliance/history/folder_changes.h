// Keeping what a CardDAV/CalDAV client changed: the server's storage hook
// runs after every change it makes, under its exclusive hold of the store
// lock, and the collections of the signed-in user are compared with their
// histories. Whatever differs (a card or event added, changed or deleted,
// a collection made or deleted) is appended as one change by that user.
// The same comparison settles a change a killed hook left unkept: it is kept
// by the next run.
#pragma once

#include <memory>
#include <string>

#include "appliance/history/kept_write.h"

namespace orva_history {

// With the exclusive lock held (the hook's case). False when a history could
// not be written.
bool keepFolderChanges(const std::string& user, const std::string& maker);

// With the exclusive lock held, before a whole collection is deleted: the
// deletion of each of its entries, kept. The caller seals it once the
// collection is gone, or cancels it. Null when it cannot be kept: then the
// collection must stay.
std::unique_ptr<KeptWrite> keepCollectionDeletion(const std::string& user,
                                                  const std::string& collection,
                                                  const std::string& maker);

// With the exclusive lock held, when a user's data is deleted: the user's
// histories go with it. False when they could not all be removed.
bool removeUserHistories(const std::string& user);

}  // namespace orva_history
