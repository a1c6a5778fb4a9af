#include "appliance/store/user_map.h"

#include "appliance/store/store_layout.h"
#include "appliance/store/store_uuid.h"

namespace orva_store {

namespace {

std::string readEntry(const std::string& path) {
  std::string content;
  return readWholeFile(path, content) ? content : std::string();
}

}  // namespace

std::string guidOfUser(const std::string& user) {
  if (!isSafeName(user)) return "";
  const std::string guid = readEntry(usersByNameDir() + "/" + user);
  if (!isGuidText(guid) || readEntry(usersByGuidDir() + "/" + guid) != user) return "";
  return guid;
}

std::string userOfGuid(const std::string& guid) {
  if (!isGuidText(guid)) return "";
  const std::string user = readEntry(usersByGuidDir() + "/" + guid);
  if (!isSafeName(user) || readEntry(usersByNameDir() + "/" + user) != guid) return "";
  return user;
}

bool setupUser(const std::string& user, DirSync& sync) {
  if (!isSafeName(user)) return false;
  const std::string book = bookDir(user);
  if (!ensureDirs(book, sync)) return false;
  // Props the server (or a user) already wrote are left alone.
  if (!entryExists(book + "/" + kPropsFileName) &&
      !writeFileAtomic(book, kPropsFileName, kBookProps, sync)) {
    return false;
  }
  if (!guidOfUser(user).empty()) return true;
  if (!ensureDirs(usersByNameDir(), sync) || !ensureDirs(usersByGuidDir(), sync)) return false;
  const std::string guid = randomUuid();
  return writeFileAtomic(usersByGuidDir(), guid, user, sync) &&
         writeFileAtomic(usersByNameDir(), user, guid, sync);
}

}  // namespace orva_store
