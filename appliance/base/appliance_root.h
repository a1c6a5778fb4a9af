// The appliance root: every fixed absolute path of the appliance is resolved
// under it. The host takes it from --root and hands it to libraries and to
// the programs it runs as the environment variable ORVA_ROOT.
#pragma once

#include <string>

namespace orva_root {

// ORVA_ROOT, or "/" when it is unset or empty; never ends in '/' unless "/".
std::string applianceRoot();
// An absolute appliance path ("/var/...") resolved under the given root
// (trailing slashes of root ignored; "/" or "" leaves the path as it is).
std::string pathUnder(const std::string& root, const std::string& absolutePath);
// The same under applianceRoot().
std::string underRoot(const std::string& absolutePath);

}  // namespace orva_root
