#include "appliance/history/folder_changes.h"

#include <sys/stat.h>

#include <map>
#include <set>
#include <sstream>

#include "appliance/history/history_files.h"
#include "appliance/history/kept_write.h"
#include "appliance/store/card_version.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"
#include "appliance/store/store_uuid.h"

namespace orva_history {

namespace {

// What the last run saw of a file: when the file still looks the same, its
// version is taken from here instead of reading it again.
struct Seen {
  std::uint64_t ino = 0, size = 0;
  std::int64_t mtimeNs = 0, ctimeNs = 0;
  std::string version;
  bool operator==(const Seen& o) const {
    return ino == o.ino && size == o.size && mtimeNs == o.mtimeNs && ctimeNs == o.ctimeNs;
  }
};
using SeenMap = std::map<std::string, Seen>;

SeenMap readSeen(const std::string& path) {
  SeenMap seen;
  std::string text;
  if (!orva_store::entryExists(path) || !orva_store::readWholeFile(path, text)) return seen;
  std::istringstream in(text);
  Seen s;
  std::size_t nameSize = 0;
  while (in >> s.ino >> s.size >> s.mtimeNs >> s.ctimeNs >> s.version >> nameSize) {
    std::string name(nameSize, '\0');
    if (in.get() != ' ' || !in.read(name.data(), static_cast<std::streamsize>(nameSize))) break;
    seen[name] = s;
  }
  return seen;
}

std::string encodeSeen(const SeenMap& seen) {
  std::string out;
  for (const auto& [name, s] : seen) {
    out += std::to_string(s.ino) + ' ' + std::to_string(s.size) + ' ' + std::to_string(s.mtimeNs) +
           ' ' + std::to_string(s.ctimeNs) + ' ' + s.version + ' ' + std::to_string(name.size()) +
           ' ' + name + '\n';
  }
  return out;
}

bool statOf(const std::string& path, Seen& out) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  out.ino = st.st_ino;
  out.size = static_cast<std::uint64_t>(st.st_size);
  out.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  out.ctimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
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
  const SeenMap seenBefore = readSeen(dir + "/seen");
  SeenMap seenNow;
  KeptWrite kept(user, collection, change, maker);
  std::set<std::string> onDisk;
  if (folderThere) {
    for (const std::string& name : keptEntries(folder)) {
      const std::string path = folder + "/" + name;
      Seen s;
      if (!statOf(path, s)) continue;
      const auto before = seenBefore.find(name);
      std::string text;
      bool read = false;
      if (before != seenBefore.end() && before->second == s) {
        s.version = before->second.version;
      } else {
        if (!orva_store::readWholeFile(path, text)) continue;
        s.version = orva_store::cardVersion(text);
        read = true;
      }
      onDisk.insert(name);
      seenNow[name] = s;
      const auto last = latest.find(name);
      if (last != latest.end() && last->second->kind == 'P' && last->second->version == s.version) {
        continue;
      }
      if (!read && !orva_store::readWholeFile(path, text)) continue;
      kept.put(name, text);
    }
  }
  for (const auto& [name, record] : latest) {
    if (record->kind == 'P' && onDisk.count(name) == 0) kept.remove(name, record->body);
  }
  if (kept.size() > 0) {
    if (!kept.keep(sync)) return false;
    kept.seal();
  }
  return seenNow.empty() && seenBefore.empty()
             ? true
             : orva_store::writeFileAtomic(dir, "seen", encodeSeen(seenNow), sync);
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

}  // namespace orva_history
