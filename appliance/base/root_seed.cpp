#include "appliance/base/root_seed.h"

#include "appliance/base/appliance_root.h"

namespace orva_root {

bool seedRoot(const std::string& root, const std::string&, std::string& error) {
  if (!makeDirs(root + "/var/log")) {
    error = "cannot create " + root + "/var/log";
    return false;
  }
  return true;
}

}  // namespace orva_root
