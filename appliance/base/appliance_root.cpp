#include "appliance/base/appliance_root.h"

#include <cstdlib>

namespace orva_root {

std::string applianceRoot() {
  const char* env = std::getenv("ORVA_ROOT");
  std::string root = (env != nullptr && env[0] != '\0') ? env : "/";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string pathUnder(const std::string& root, const std::string& absolutePath) {
  std::string base = root;
  while (!base.empty() && base.back() == '/') base.pop_back();
  if (base.empty()) return absolutePath;
  if (!absolutePath.empty() && absolutePath[0] == '/') return base + absolutePath;
  return base + "/" + absolutePath;
}

std::string underRoot(const std::string& absolutePath) {
  return pathUnder(applianceRoot(), absolutePath);
}

}  // namespace orva_root
