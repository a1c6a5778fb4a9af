// Dropping what a history no longer keeps: changes older than the kept
// period, and the oldest changes of a history over the size limit. Dropped
// changes are folded into the base, so that the book's state at every time
// still kept stays what it was; deleted cards older than the period leave
// the trash for good.
#pragma once

#include <cstdint>
#include <string>

#include "appliance/history/history_settings.h"

namespace orva_history {

// With the exclusive lock held: prunes one collection's history as of nowMs.
bool pruneCollection(const std::string& user, const std::string& collection,
                     const Settings& settings, std::int64_t nowMs);

// Takes the lock and prunes every history (the daily task).
bool pruneAll();

}  // namespace orva_history
