#include "appliance/store/user_map.h"

#include "appliance/store/store_layout.h"
#include "appliance/store/store_uuid.h"

namespace orva_store {

namespace {

std::string readEntry(const std::string& path) {
  std::string content;
  return readWholeFile(path, content) ? content : std::string();
}

// The map's folders, when they are there, are real folders, not links.
bool mapIsReal() { return hasNoLinks(usersByNameDir()) && hasNoLinks(usersByGuidDir()); }

}  // namespace

std::string guidOfUser(const std::string& user) {
  if (!isSafeUserName(user) || !mapIsReal()) return "";
  const std::string guid = readEntry(usersByNameDir() + "/" + user);
  if (!isGuidText(guid) || readEntry(usersByGuidDir() + "/" + guid) != user) return "";
  return guid;
}

std::string userOfGuid(const std::string& guid) {
  if (!isGuidText(guid) || !mapIsReal()) return "";
  const std::string user = readEntry(usersByGuidDir() + "/" + guid);
  if (!isSafeUserName(user) || readEntry(usersByNameDir() + "/" + user) != guid) return "";
  return user;
}

bool setupUser(const std::string& user, FolderSync& sync) {
  if (!isSafeUserName(user)) return false;
  const std::string book = bookDir(user);
  if (!ensureDirs(book, sync)) return false;
  // Props the server (or a user) already wrote are left alone.
  if (!entryExists(book + "/" + kPropsFileName) &&
      !writeFileAtomic(book, kPropsFileName, kBookProps, sync)) {
    return false;
  }
  if (!guidOfUser(user).empty()) return true;
  if (!ensureDirs(usersByNameDir(), sync) || !ensureDirs(usersByGuidDir(), sync)) return false;
  // by-guid first: a set-up killed between the two writes leaves an entry
  // without by-name, which reads as an unknown user and is set up again.
  const std::string guid = randomUuid();
  return writeFileAtomic(usersByGuidDir(), guid, user, sync) &&
         writeFileAtomic(usersByNameDir(), user, guid, sync);
}

}  // namespace orva_store
