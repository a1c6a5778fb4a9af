#include "appliance/host/calendar/calendar_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <unordered_map>
#include <vector>

#include "appliance/base/atomic_batch.h"
#include "appliance/host/accounts/password_file.h"
#include "appliance/host/accounts/user_collections.h"
#include "appliance/host/api/json_text.h"
#include "appliance/host/calendar/ics_items.h"
#include "appliance/host/calendar/item_check.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"
#include "appliance/store/store_lock.h"
#include "platform/contact_store.h"

namespace orva_calendar {

namespace {

constexpr std::size_t kBatchItems = 1000;
constexpr std::size_t kBatchBytes = std::size_t{8} << 20;
constexpr Json::ArrayIndex kListedSkips = 100;

// Item files the server would see: no dot-names, no "~" backups.
std::vector<std::string> itemNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!orva_store::isSafeName(name)) continue;
    struct stat st {};
    if (::lstat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      names.push_back(name);
    }
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// What makes two items the same: their lines, unfolded, less the stamps and
// the calendar's own header that every export writes anew.
std::string identityOf(const std::string& text) {
  std::string canonical;
  std::string uid;
  std::size_t start = 0;
  std::string line;
  const auto take = [&] {
    const std::string name = upperAscii(line.substr(0, line.find_first_of(";:")));
    if (name != "DTSTAMP" && name != "PRODID" && name != "VERSION" && name != "CALSCALE" &&
        !line.empty()) {
      canonical += line + "\n";
    }
  };
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string piece = text.substr(start, end - start);
    start = end + 2;
    if (!piece.empty() && (piece[0] == ' ' || piece[0] == '\t')) {
      line.append(piece, 1, std::string::npos);
      continue;
    }
    take();
    line = piece;
  }
  take();
  return DBHandler::VersionOf(canonical);
}

// Each component of an item (time zones aside) as its unfolded lines, less
// its stamp.
std::set<std::string> componentsOf(const std::string& text) {
  std::set<std::string> components;
  splitCalendar(
      text, [](const std::string&, const std::string&) {},
      [&components](const std::string& block) {
        components.insert(identityOf(kCalendarHeader + block + "END:VCALENDAR\r\n"));
      });
  return components;
}

// Whether every component of item is one of the stored item's: a part of
// it, as a file that lists an override apart from its event gives it.
bool isPartOf(const std::string& item, const std::string& storedPath) {
  std::string stored;
  if (!orva_store::readWholeFile(storedPath, stored)) return false;
  const std::set<std::string> have = componentsOf(stored);
  for (const std::string& component : componentsOf(item)) {
    if (have.count(component) == 0) return false;
  }
  return true;
}

// The UID of an item's first event, task or journal entry.
std::string uidOf(const std::string& text) {
  std::string uid;
  splitCalendar(
      text, [](const std::string&, const std::string&) {},
      [&uid](const std::string& block) {
        if (!uid.empty()) return;
        std::size_t start = 0;
        int depth = 0;
        while (start < block.size()) {
          const std::size_t end = block.find("\r\n", start);
          const std::string line = block.substr(start, end - start);
          start = end + 2;
          const std::string name = upperAscii(line.substr(0, line.find_first_of(";:")));
          if (name == "BEGIN") ++depth;
          if (name == "END") --depth;
          if (depth == 1 && name == "UID") {
            uid = line.substr(line.find(':') + 1);
            return;
          }
        }
      });
  return uid;
}

// Imported items are named by their UID, so that a later part of the file
// with the same UID finds its item without a list kept in memory.
std::string itemNameOf(const std::string& uid) {
  return DBHandler::VersionOf(uid).substr(0, 32) + ".ics";
}

class ItemWriter {
 public:
  ItemWriter(const std::string& folder, CalendarImport& result)
      : folder_(folder), result_(result) {}

  bool pending(const std::string& name) const { return names_.count(name) > 0; }

  bool add(const std::string& name, std::string text) {
    bytes_ += text.size();
    names_.insert(name);
    items_.emplace_back(name, std::move(text));
    return items_.size() < kBatchItems && bytes_ < kBatchBytes ? true : flush();
  }

  bool flush() {
    if (items_.empty()) return !result_.failed;
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    std::size_t placed = 0;
    if (lock.held() && orva_store::hasNoLinks(folder_)) {
      orva_file::AtomicBatch batch(folder_, 0600);
      bool ok = true;
      for (const auto& item : items_) ok = ok && batch.add(item.first, item.second);
      placed = ok ? batch.commit() : 0;
    }
    result_.stored += placed;
    if (placed < items_.size()) result_.failed = true;
    items_.clear();
    names_.clear();
    bytes_ = 0;
    return !result_.failed;
  }

  // Replaces a stored item with text while it still has the identity read
  // before: the check and the write hold one exclusive lock.
  bool replaceIf(const std::string& name, const std::string& identity, const std::string& text) {
    if (!flush()) return false;
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    std::string stored;
    if (!lock.held() || !orva_store::readWholeFile(folder_ + "/" + name, stored) ||
        identityOf(stored) != identity) {
      return false;
    }
    orva_file::FolderSync sync;
    if (!orva_store::writeFileAtomic(folder_, name, text, sync) || !sync.flush()) {
      result_.failed = true;
      return false;
    }
    return true;
  }

  // Replaces an item this import wrote (its later components added).
  bool replace(const std::string& name, const std::string& text) {
    if (!flush()) return false;
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    orva_file::FolderSync sync;
    if (!lock.held() || !orva_store::writeFileAtomic(folder_, name, text, sync) || !sync.flush()) {
      result_.failed = true;
    }
    return !result_.failed;
  }

 private:
  const std::string& folder_;
  CalendarImport& result_;
  std::vector<std::pair<std::string, std::string>> items_;
  std::set<std::string> names_;
  std::size_t bytes_ = 0;
};

// An item of this file written before gets the components it lacks.
std::string mergedText(const std::string& stored, const std::string& added,
                       std::uint64_t& newComponents) {
  std::string zones, components;
  std::set<std::string> tzids;
  const auto zone = [&](const std::string& tzid, const std::string& block) {
    if (tzids.insert(tzid).second) zones += block;
  };
  splitCalendar(stored, zone, [&](const std::string& block) { components += block; });
  splitCalendar(added, zone, [&](const std::string& block) {
    if (components.find(block) != std::string::npos) return;
    components += block;
    ++newComponents;
  });
  return calendarText(zones, components);
}

void skip(CalendarImport& result, std::uint64_t line, const std::string& reason) {
  ++result.skipped;
  if (result.skippedWhy.size() >= kListedSkips) return;
  Json::Value entry(Json::objectValue);
  entry["line"] = Json::UInt64(line);
  entry["reason"] = reason;
  result.skippedWhy.append(entry);
}

}  // namespace

CalendarFault calendarFolder(const std::string& user, const std::string& calendar,
                             std::string& folder) {
  if (!orva_host::isPlainUserName(user) || !orva_host::isPlainCollectionName(calendar)) {
    return CalendarFault::kBadName;
  }
  folder = orva_store::userCollectionDir(user) + "/" + calendar;
  orva_store::StoreLock lock(orva_store::StoreLock::kShared);
  if (!lock.held()) return CalendarFault::kFailed;
  if (!orva_store::hasNoLinks(folder)) return CalendarFault::kFailed;
  std::string text;
  if (!orva_store::isRegularFile(folder + "/" + orva_store::kPropsFileName)) {
    return orva_store::entryExists(folder) ? CalendarFault::kNotCalendar : CalendarFault::kMissing;
  }
  Json::Value props;
  std::string reason;
  if (!orva_store::readWholeFile(folder + "/" + orva_store::kPropsFileName, text) ||
      !orva_host::parseStrictJson(text, props, reason) || !props.isObject() ||
      props.get("tag", "") != "VCALENDAR") {
    return CalendarFault::kNotCalendar;
  }
  return CalendarFault::kNone;
}

CalendarFault importCalendar(const std::string& user, const std::string& calendar, std::istream& in,
                             CalendarImport& result, const std::set<std::string>& apply) {
  std::string folder;
  const CalendarFault fault = calendarFolder(user, calendar, folder);
  if (fault != CalendarFault::kNone) return fault;

  // The calendar's items by UID: their file and content.
  struct Existing {
    std::string name;
    std::string identity;
  };
  std::unordered_map<std::string, Existing> existing;
  {
    orva_store::StoreLock lock(orva_store::StoreLock::kShared);
    if (!lock.held()) return CalendarFault::kFailed;
    for (const std::string& name : itemNames(folder)) {
      std::string text;
      if (!orva_store::readWholeFile(folder + "/" + name, text)) continue;
      const std::string uid = uidOf(text);
      if (!uid.empty()) existing[uid] = Existing{name, identityOf(text)};
    }
  }

  ItemWriter writer(folder, result);
  const BadComponent bad = [&result](std::uint64_t line, const std::string& reason) {
    skip(result, line, reason);
  };
  const ItemSink sink = [&](IcsItem& item) {
    const std::string refusal = itemTextRefusal(item.text);
    if (!refusal.empty()) {
      skip(result, item.line, item.kind + " " + item.uid + ": " + refusal);
      return true;
    }
    const auto known = existing.find(item.uid);
    if (known != existing.end()) {
      if (known->second.identity == identityOf(item.text) ||
          isPartOf(item.text, folder + "/" + known->second.name)) {
        ++result.duplicates;
      } else if (apply.count(item.uid) > 0 &&
                 writer.replaceIf(known->second.name, known->second.identity, item.text)) {
        ++result.updated;
        known->second.identity = identityOf(item.text);
      } else if (result.candidates.empty() ||
                 result.candidates[result.candidates.size() - 1]["uid"] != item.uid) {
        Json::Value candidate(Json::objectValue);
        candidate["uid"] = item.uid;
        candidate["href"] = known->second.name;
        result.candidates.append(candidate);
      }
      return true;
    }
    const std::string name = itemNameOf(item.uid);
    if (writer.pending(name) || orva_store::entryExists(folder + "/" + name)) {
      // More components of a UID this file gave before, further down.
      if (!writer.flush()) return false;
      std::string stored;
      if (!orva_store::readWholeFile(folder + "/" + name, stored)) return true;
      std::uint64_t added = 0;
      const std::string merged = mergedText(stored, item.text, added);
      if (added == 0) {
        ++result.duplicates;
        return true;
      }
      const std::string mergedRefusal = itemTextRefusal(merged);
      if (!mergedRefusal.empty()) {
        skip(result, item.line, item.kind + " " + item.uid + ": " + mergedRefusal);
        return true;
      }
      result.merged += added;
      return writer.replace(name, merged);
    }
    return writer.add(name, std::move(item.text));
  };
  result.calendars = readIcsItems(in, sink, bad);
  writer.flush();
  return CalendarFault::kNone;
}

CalendarFault exportCalendar(const std::string& user, const std::string& calendar,
                             std::ostream& out) {
  std::string folder;
  const CalendarFault fault = calendarFolder(user, calendar, folder);
  if (fault != CalendarFault::kNone) return fault;
  orva_store::StoreLock lock(orva_store::StoreLock::kShared);
  if (!lock.held()) return CalendarFault::kFailed;
  std::set<std::string> tzids;
  out << kCalendarHeader;
  for (const std::string& name : itemNames(folder)) {
    std::string text;
    if (!orva_store::readWholeFile(folder + "/" + name, text)) continue;
    splitCalendar(
        text,
        [&](const std::string& tzid, const std::string& block) {
          if (tzids.insert(tzid).second) out << block;
        },
        [&](const std::string& block) { out << block; });
  }
  out << "END:VCALENDAR\r\n";
  return out ? CalendarFault::kNone : CalendarFault::kFailed;
}

Json::Value importAnswer(const CalendarImport& result) {
  Json::Value data(Json::objectValue);
  data["stored"] = Json::UInt64(result.stored);
  data["merged"] = Json::UInt64(result.merged);
  data["duplicates"] = Json::UInt64(result.duplicates);
  data["updated"] = Json::UInt64(result.updated);
  data["skipped"] = Json::UInt64(result.skipped);
  if (result.skipped > 0) data["skipped_why"] = result.skippedWhy;
  if (!result.candidates.empty()) data["update_candidates"] = result.candidates;
  return data;
}

}  // namespace orva_calendar
