// What the history's reads and restores share: their answers, the lock and
// the settled history they work on.
#pragma once

#include <string>

#include "appliance/history/history_files.h"
#include "appliance/history/history_restore.h"
#include "appliance/store/store_lock.h"

namespace orva_history {

Result failed(Outcome outcome, std::string detail);
Result done(Json::Value data);
bool isAddressBook(const std::string& collection);
// The version of the file at path, "" when there is none.
std::string versionOnDisk(const std::string& path);

// With the lock held: the collection's settled history, or why there is none.
bool openFor(const std::string& user, const std::string& collection, History& history,
             Result& refusal);

// Runs work on the collection's settled history, under the exclusive lock.
template <typename Work>
Result withHistory(const std::string& user, const std::string& collection, Work work) {
  orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
  if (!lock.held()) return failed(Outcome::kMissing, "nothing is kept yet");
  History history;
  Result refusal;
  if (!openFor(user, collection, history, refusal)) return refusal;
  return work(history);
}

}  // namespace orva_history
