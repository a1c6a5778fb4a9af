// Putting kept entries back, each as one change of its own that is kept in
// turn (so it can be undone): deleted entries out of the trash, an earlier
// version of one entry, a whole collection as it was at a time. Every step
// passes the store's gate and its version rule: an entry is only written
// while it still is what the page saw, so nothing a later edit made is
// overwritten unseen. Each function takes the store lock itself.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orva_history {

enum class Outcome {
  kDone,
  kMissing,     // not in the history: never there, or pruned
  kChanged,     // the entry (or collection) changed since the page saw it
  kRefused,     // the store's gate refuses the text
  kNotWritten,  // the collection or its history cannot be written
};

struct Result {
  Outcome outcome = Outcome::kNotWritten;
  std::string detail;  // why, for an error
  Json::Value data;    // what the page shows, for kDone
};

// Reading, each after keeping what clients changed since the last run.
Result trashOf(const std::string& user, const std::string& collection);
Result versionsOf(const std::string& user, const std::string& collection, const std::string& name);
// {"add", "change", "remove", "token"}: what undoTo(timeMs, token) would do.
Result undoPreview(const std::string& user, const std::string& collection, std::int64_t timeMs);
// [{"time", "by", "count"}], newest first: the changes kept, to choose a time.
Result changesOf(const std::string& user, const std::string& collection);
// [{"name", "display_name", "deleted"}]: the user's kept collections, those
// deleted since among them.
Result collectionsOf(const std::string& user);

// Restores each named deleted entry byte for byte, under its own name unless
// that is taken again (then under a new one). data: [{"name", "restored_as"}].
Result restoreFromTrash(const std::string& user, const std::string& collection,
                        const std::vector<std::string>& names, const std::string& maker);
// Writes the entry's index-th kept version (as versionsOf lists them) as
// its newest, only while its current version is currentVersion ("" when the
// page saw it deleted).
Result restoreVersion(const std::string& user, const std::string& collection,
                      const std::string& name, int index, const std::string& currentVersion,
                      const std::string& maker);
// Puts the collection back to timeMs, only while it is as the preview that
// gave token saw it.
Result undoTo(const std::string& user, const std::string& collection, std::int64_t timeMs,
              const std::string& token, const std::string& maker);

}  // namespace orva_history
