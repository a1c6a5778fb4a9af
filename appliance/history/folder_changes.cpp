#include "appliance/history/folder_changes.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <vector>

#include "appliance/history/history_files.h"
#include "appliance/history/kept_write.h"
#include "appliance/store/card_version.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"
#include "appliance/store/store_uuid.h"

namespace orva_history {

namespace {

// When the last run began (ns since the epoch), in the history's "scanned":
// a file whose status changed before it is as that run left it, since every
// change of a file's content or name sets its ctime, which no client can set
// back. A margin covers the coarse clock of file times and a clock set back
// a little.
constexpr std::int64_t kMarginNs = 2'000'000'000;

std::int64_t lastScan(const std::string& path) {
  std::string text;
  if (!orva_store::entryExists(path) || !orva_store::readWholeFile(path, text)) return 0;
  return std::strtoll(text.c_str(), nullptr, 10);
}

std::int64_t nowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Whether the file's status changed at or after sinceNs; false when it is
// not a regular file.
bool changedSince(const std::string& path, std::int64_t sinceNs, bool& changed) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  changed =
      static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec >= sinceNs;
  return true;
}

bool keepCollection(const std::string& user, const std::string& collection,
                    const std::string& change, const std::string& maker,
                    orva_file::FolderSync& sync) {
  const std::string folder = collectionDir(user, collection);
  const bool folderThere = orva_store::hasNoLinks(folder) && orva_store::entryExists(folder);
  const std::string dir = historyDir(user, collection);
  if (!orva_store::entryExists(dir + "/base")) {
    // A collection new to the history: its base is what it holds now.
    return !folderThere || openHistory(user, collection, sync);
  }
  if (!openHistory(user, collection, sync)) return false;
  History history;
  if (!readHistory(user, collection, history)) return false;
  const auto latest = latestRecords(history);
  const std::int64_t began = nowNs();
  const std::int64_t since = lastScan(dir + "/scanned") - kMarginNs;
  KeptWrite kept(user, collection, change, maker);
  std::set<std::string> onDisk;
  for (const std::string& name : folderThere ? keptEntries(folder) : std::vector<std::string>()) {
    const std::string path = folder + "/" + name;
    bool changed = false;
    if (!changedSince(path, since, changed)) continue;
    onDisk.insert(name);
    const auto last = latest.find(name);
    const bool known = last != latest.end() && last->second->kind == 'P';
    if (known && !changed) continue;
    std::string text;
    if (!orva_store::readWholeFile(path, text)) continue;
    if (known && last->second->version == orva_store::cardVersion(text)) continue;
    kept.put(name, text);
  }
  for (const auto& [name, record] : latest) {
    if (record->kind == 'P' && onDisk.count(name) == 0) kept.remove(name, record->body);
  }
  if (kept.size() > 0) {
    if (!kept.keep(sync)) return false;
    kept.seal();
  }
  return orva_store::writeFileAtomic(dir, "scanned", std::to_string(began) + "\n", sync);
}

}  // namespace

bool keepFolderChanges(const std::string& user, const std::string& maker) {
  if (!orva_store::isSafeUserName(user)) return false;
  orva_file::FolderSync sync;
  std::set<std::string> collections;
  for (const std::string& name :
       folderEntries(orva_store::userCollectionDir(user), Kind::kFolders)) {
    collections.insert(name);
  }
  // Collections deleted since: their histories are still there.
  for (const std::string& name : folderEntries(historyRoot() + "/" + user, Kind::kFolders)) {
    collections.insert(name);
  }
  const std::string change = orva_store::randomUuid();
  bool ok = true;
  for (const std::string& collection : collections) {
    ok = keepCollection(user, collection, change, maker, sync) && ok;
  }
  return sync.flush() && ok;
}

std::unique_ptr<KeptWrite> keepCollectionDeletion(const std::string& user,
                                                  const std::string& collection,
                                                  const std::string& maker) {
  // What clients changed before is theirs; the deletion is the maker's.
  if (!keepFolderChanges(user, user)) return nullptr;
  auto kept = std::make_unique<KeptWrite>(user, collection, orva_store::randomUuid(), maker);
  const std::string folder = collectionDir(user, collection);
  for (const std::string& name : keptEntries(folder)) {
    std::string text;
    if (!orva_store::readWholeFile(folder + "/" + name, text)) return nullptr;
    kept->remove(name, text);
  }
  orva_file::FolderSync sync;
  if (!kept->keep(sync) || !sync.flush()) return nullptr;
  return kept;
}

bool removeUserHistories(const std::string& user) {
  const std::string dir = historyRoot() + "/" + user;
  if (!orva_store::isSafeUserName(user) || !orva_store::hasNoLinks(dir)) return false;
  std::error_code error;
  std::filesystem::remove_all(dir, error);
  return !error;
}

}  // namespace orva_history
