#include "appliance/store/store_layout.h"

#include "appliance/base/appliance_root.h"
#include "appliance/store/text_rules.h"

namespace orva_store {

const char* const kBookName = "contacts";
const char* const kPropsFileName = ".Radicale.props";
// String values only: the server reads every property as text.
const char* const kBookProps = "{\"D:displayname\": \"Contacts\", \"tag\": \"VADDRESSBOOK\"}";

namespace {
const char kVarDir[] = "/var/packages/Tessaro/var";
}

std::string storeBaseDir() { return orva_root::underRoot(kVarDir); }
std::string collectionsDir() { return storeBaseDir() + "/collections"; }
std::string lockPath() { return collectionsDir() + "/.Radicale.lock"; }
std::string collectionRoot() { return collectionsDir() + "/collection-root"; }
std::string userCollectionDir(const std::string& user) { return collectionRoot() + "/" + user; }
std::string bookDir(const std::string& user) { return userCollectionDir(user) + "/" + kBookName; }
std::string usersByNameDir() { return storeBaseDir() + "/users/by-name"; }
std::string usersByGuidDir() { return storeBaseDir() + "/users/by-guid"; }
std::string exportDir(const std::string& user) { return storeBaseDir() + "/export/" + user; }
std::string storeLogPath() { return orva_root::underRoot("/var/log/store.log"); }

bool isSafeName(const std::string& name) {
  if (name.empty() || name.front() == '.' || name.back() == '~') return false;
  return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

bool isSafeUserName(const std::string& name) {
  if (!isSafeName(name) || !isValidUtf8(name) || hasControlCharacter(name)) return false;
  return name.front() != ' ' && name.back() != ' ';
}

bool isGuidText(const std::string& guid) {
  if (guid.size() != 36) return false;
  for (size_t i = 0; i < guid.size(); ++i) {
    const char c = guid[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

}  // namespace orva_store
