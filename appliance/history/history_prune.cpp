#include "appliance/history/history_prune.h"

#include <map>
#include <vector>

#include "appliance/history/history_files.h"
#include "appliance/history/kept_write.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"
#include "appliance/store/store_lock.h"

namespace orva_history {

namespace {

std::string encode(const Record& r) {
  return encodeRecord(r.kind, r.timeMs, std::string(r.change), std::string(r.version),
                      std::string(r.name), std::string(r.maker), r.body);
}

}  // namespace

bool pruneCollection(const std::string& user, const std::string& collection,
                     const Settings& settings, std::int64_t nowMs) {
  orva_file::FolderSync sync;
  if (!openHistory(user, collection, sync)) return false;
  History history;
  if (!readHistory(user, collection, history) || !history.exists) return false;
  const std::int64_t cutoff = nowMs - static_cast<std::int64_t>(settings.keepDays) * 86400000;
  const std::size_t total = history.records.size();
  // Changes are folded whole: the records of one change stay together.
  std::size_t fold = history.baseCount;
  while (fold < total && history.records[fold].timeMs < cutoff) ++fold;
  std::uint64_t size = history.baseFileSize + history.journalBytes.size();
  bool trimmed = history.trimmed;
  std::uint64_t folded = 0;
  for (std::size_t i = history.baseCount; i < fold; ++i)
    folded += encode(history.records[i]).size();
  while (fold < total && size - folded > settings.sizeLimitBytes()) {
    const std::string_view change = history.records[fold].change;
    while (fold < total && history.records[fold].change == change) {
      folded += encode(history.records[fold]).size();
      ++fold;
    }
    trimmed = true;
  }
  if (fold == history.baseCount) return true;
  // The base: every entry's state after the folded changes.
  std::map<std::string_view, const Record*> state;
  for (std::size_t i = 0; i < fold; ++i) state[history.records[i].name] = &history.records[i];
  const std::int64_t start = fold < total ? history.records[fold - 1].timeMs : nowMs;
  std::string base = encodeBaseHeader(std::max(start, history.startMs), trimmed);
  for (const auto& [name, record] : state) {
    if (record->kind == 'P') base += encode(*record);
  }
  std::string journal;
  for (std::size_t i = fold; i < total; ++i) journal += encode(history.records[i]);
  if (!journal.empty()) journal += encodeSeal(0, journal.size());
  const std::string dir = historyDir(user, collection);
  // The base first: until the journal follows, folded changes are in both,
  // which gives every kept time the same state.
  return writeBaseFile(dir, base, sync) &&
         orva_store::writeFileAtomic(dir, "journal", journal, sync) && sync.flush();
}

bool pruneAll() {
  const Settings settings = readSettings();
  orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
  if (!lock.held()) return true;  // no store yet: nothing kept
  bool ok = true;
  const std::int64_t now = nowMs();
  for (const std::string& user : folderEntries(historyRoot(), Kind::kFolders)) {
    for (const std::string& collection :
         folderEntries(historyRoot() + "/" + user, Kind::kFolders)) {
      ok = pruneCollection(user, collection, settings, now) && ok;
    }
  }
  return ok;
}

}  // namespace orva_history
