#include "appliance/base/appliance_root.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace orva_root {

std::string applianceRoot() {
  const char* env = std::getenv("ORVA_ROOT");
  std::string root = (env != nullptr && env[0] != '\0') ? env : "/";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string underRoot(const std::string& absolutePath) {
  const std::string root = applianceRoot();
  if (root == "/") return absolutePath;
  if (!absolutePath.empty() && absolutePath[0] == '/') return root + absolutePath;
  return root + "/" + absolutePath;
}

bool makeDirs(const std::string& path) {
  if (path.empty()) return false;
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = slash == std::string::npos ? path : path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace orva_root
