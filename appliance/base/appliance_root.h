// The appliance root: every fixed absolute path of the appliance is resolved
// under it. The host takes it from --root and hands it to libraries and to
// the programs it runs as the environment variable ORVA_ROOT.
#pragma once

#include <string>

namespace orva_root {

// ORVA_ROOT, or "/" when it is unset or empty; never ends in '/' unless "/".
std::string applianceRoot();
// An absolute appliance path ("/var/...") resolved under the root.
std::string underRoot(const std::string& absolutePath);
// Creates the directory and its parents (mode 0755); true when it exists after.
bool makeDirs(const std::string& path);

}  // namespace orva_root
