#include "appliance/store/store_layout.h"

#include "appliance/base/appliance_root.h"

namespace orva_store {

const char* const kBookName = "contacts";
const char* const kPropsFileName = ".Radicale.props";
// String values only: the server reads every property as text.
const char* const kBookProps = "{\"D:displayname\": \"Contacts\", \"tag\": \"VADDRESSBOOK\"}";

namespace {
const char kVarDir[] = "/var/packages/Tessaro/var";
}

std::string collectionsDir() { return orva_root::underRoot(std::string(kVarDir) + "/collections"); }
std::string lockPath() { return collectionsDir() + "/.Radicale.lock"; }
std::string collectionRoot() { return collectionsDir() + "/collection-root"; }
std::string userCollectionDir(const std::string& user) { return collectionRoot() + "/" + user; }
std::string bookDir(const std::string& user) { return userCollectionDir(user) + "/" + kBookName; }
std::string usersByNameDir() {
  return orva_root::underRoot(std::string(kVarDir) + "/users/by-name");
}
std::string usersByGuidDir() {
  return orva_root::underRoot(std::string(kVarDir) + "/users/by-guid");
}
std::string exportDir(const std::string& user) {
  return orva_root::underRoot(std::string(kVarDir) + "/export/" + user);
}
std::string storeLogPath() { return orva_root::underRoot("/var/log/store.log"); }

bool isSafeName(const std::string& name) {
  if (name.empty() || name.front() == '.' || name.back() == '~') return false;
  return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
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
