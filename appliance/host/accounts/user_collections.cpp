#include "appliance/host/accounts/user_collections.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "appliance/base/file_io.h"
#include "appliance/host/accounts/password_file.h"
#include "appliance/host/api/json_text.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"
#include "appliance/store/store_lock.h"
#include "appliance/store/text_rules.h"
#include "appliance/store/user_map.h"
#include "platform/contact_store.h"
#include "platform/webapi.h"

namespace orva_host {

namespace {

constexpr const char* kLogSource = "user_collections";

// Entries of a folder that the server would see: no dot-names (its own
// files, temporaries), no "~" backups.
std::vector<std::string> visibleEntries(const std::string& folder, bool folders) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!orva_store::isSafeName(name)) continue;
    struct stat st {};
    if (::lstat((folder + "/" + name).c_str(), &st) != 0) continue;
    if (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

Json::Value readProps(const std::string& folder) {
  std::string text;
  Json::Value props;
  std::string reason;
  if (!orva_store::readWholeFile(folder + "/" + orva_store::kPropsFileName, text) ||
      !parseStrictJson(text, props, reason) || !props.isObject()) {
    return Json::Value(Json::objectValue);
  }
  return props;
}

std::string kindOf(const Json::Value& props) {
  const std::string tag = props.get("tag", "").isString() ? props.get("tag", "").asString() : "";
  if (tag == "VADDRESSBOOK") return "addressbook";
  if (tag == "VCALENDAR") return "calendar";
  return "other";
}

std::string calendarProps(const std::string& displayName) {
  Json::Value props(Json::objectValue);
  props["C:supported-calendar-component-set"] = "VEVENT,VTODO";
  props["D:displayname"] = displayName;
  props["tag"] = "VCALENDAR";
  return compactJson(props);
}

// With the exclusive lock held.
bool makeCalendarFolder(const std::string& user, const std::string& name,
                        const std::string& displayName) {
  orva_file::FolderSync sync;
  const std::string folder = orva_store::userCollectionDir(user) + "/" + name;
  return orva_store::ensureDirs(folder, sync) &&
         orva_store::writeFileAtomic(folder, orva_store::kPropsFileName, calendarProps(displayName),
                                     sync) &&
         sync.flush();
}

// Moves the folder out of the server's sight (a dot-name beside it) while
// the lock is held; the caller removes it afterwards.
bool hideFolder(const std::string& folder, std::string& hidden) {
  std::random_device random;
  const std::string parent = orva_file::parentFolder(folder);
  hidden = parent + "/.deleted-" + std::to_string(random()) + std::to_string(::getpid());
  if (::rename(folder.c_str(), hidden.c_str()) != 0) return false;
  orva_file::FolderSync sync;
  sync.add(parent);
  return sync.flush();
}

void removeTree(const std::string& folder) {
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  if (error) {
    ErrorLog(kLogSource, __LINE__, 1, "cannot remove %s: %s", folder.c_str(),
             error.message().c_str());
  }
}

}  // namespace

bool isPlainCollectionName(const std::string& name) {
  return isPlainUserName(name) && orva_store::isSafeName(name);
}

std::vector<Collection> userCollections(const std::string& user) {
  std::vector<Collection> collections;
  if (!isPlainUserName(user)) return collections;
  orva_store::StoreLock lock(orva_store::StoreLock::kShared);
  if (!lock.held()) return collections;
  const std::string home = orva_store::userCollectionDir(user);
  if (!orva_store::hasNoLinks(home)) return collections;
  for (const std::string& name : visibleEntries(home, true)) {
    const std::string folder = home + "/" + name;
    const Json::Value props = readProps(folder);
    Collection collection;
    collection.name = name;
    collection.kind = kindOf(props);
    const Json::Value shown = props.get("D:displayname", "");
    collection.displayName = shown.isString() ? shown.asString() : "";
    collection.items = static_cast<int>(visibleEntries(folder, false).size());
    collections.push_back(collection);
  }
  return collections;
}

std::vector<std::string> storedUsers() {
  std::vector<std::string> users = visibleEntries(orva_store::collectionRoot(), true);
  for (const std::string& user : visibleEntries(orva_store::usersByNameDir(), false)) {
    users.push_back(user);
  }
  std::sort(users.begin(), users.end());
  users.erase(std::unique(users.begin(), users.end()), users.end());
  users.erase(std::remove_if(users.begin(), users.end(),
                             [](const std::string& user) { return !isPlainUserName(user); }),
              users.end());
  return users;
}

bool setUpUserCollections(const std::string& user) {
  if (!isPlainUserName(user)) return false;
  DBHandler store;
  store.SetupUserBasicInfo(user);
  if (store.GetGUID(user).empty()) return false;
  for (const Collection& collection : userCollections(user)) {
    if (collection.kind == "calendar") return true;
  }
  const CollectionChange made = createCalendar(user, kDefaultCalendar, "Calendar");
  return made == CollectionChange::kDone || made == CollectionChange::kExists;
}

CollectionChange createCalendar(const std::string& user, const std::string& name,
                                const std::string& displayName) {
  if (!isPlainUserName(user) || !isPlainCollectionName(name) ||
      !orva_store::isValidUtf8(displayName)) {
    return CollectionChange::kBadName;
  }
  orva_file::FolderSync sync;
  if (!orva_store::ensureDirs(orva_store::collectionsDir(), sync) || !sync.flush()) {
    return CollectionChange::kFailed;
  }
  orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
  const std::string folder = orva_store::userCollectionDir(user) + "/" + name;
  if (!lock.held() || !orva_store::hasNoLinks(folder)) return CollectionChange::kFailed;
  if (orva_store::entryExists(folder)) return CollectionChange::kExists;
  if (!makeCalendarFolder(user, name, displayName)) {
    ErrorLog(kLogSource, __LINE__, 1, "cannot make the calendar %s of %s", name.c_str(),
             user.c_str());
    return CollectionChange::kFailed;
  }
  return CollectionChange::kDone;
}

CollectionChange deleteCalendar(const std::string& user, const std::string& name) {
  if (!isPlainUserName(user) || !isPlainCollectionName(name)) return CollectionChange::kBadName;
  std::string hidden;
  {
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    const std::string folder = orva_store::userCollectionDir(user) + "/" + name;
    if (!lock.held() || !orva_store::hasNoLinks(folder)) return CollectionChange::kMissing;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return CollectionChange::kMissing;
    }
    if (kindOf(readProps(folder)) != "calendar") return CollectionChange::kNotCalendar;
    if (!hideFolder(folder, hidden)) {
      ErrorLog(kLogSource, __LINE__, 1, "cannot delete the calendar %s of %s", name.c_str(),
               user.c_str());
      return CollectionChange::kFailed;
    }
  }
  removeTree(hidden);
  return CollectionChange::kDone;
}

bool deleteUserData(const std::string& user) {
  if (!isPlainUserName(user)) return false;
  std::string hidden;
  bool ok = true;
  {
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    if (!lock.held()) return true;  // no storage folder: nothing stored
    const std::string guid = orva_store::guidOfUser(user);
    orva_file::FolderSync sync;
    // The map first: from then on the user is unknown to the module.
    if (orva_store::entryExists(orva_store::usersByNameDir() + "/" + user)) {
      ok = orva_store::removeFile(orva_store::usersByNameDir() + "/" + user, sync) && ok;
    }
    if (!guid.empty()) {
      ok = orva_store::removeFile(orva_store::usersByGuidDir() + "/" + guid, sync) && ok;
    }
    const std::string home = orva_store::userCollectionDir(user);
    if (orva_store::hasNoLinks(home) && orva_store::entryExists(home)) {
      ok = hideFolder(home, hidden) && ok;
    }
    ok = sync.flush() && ok;
  }
  if (!hidden.empty()) removeTree(hidden);
  const std::string exports = orva_store::exportDir(user);
  if (orva_store::hasNoLinks(exports)) removeTree(exports);
  if (!ok) ErrorLog(kLogSource, __LINE__, 1, "the data of %s was not all deleted", user.c_str());
  return ok;
}

}  // namespace orva_host
