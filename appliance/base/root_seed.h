// Seeds a fresh appliance root: log folder, default server configuration,
// the server's services file and the package's programs. Leaves whatever is
// already there alone, so it is safe to run on every start.
#pragma once

#include <string>

namespace orva_root {

// packageDir is where the build put appliance/package's files. False (with a
// reason in error) when a file could not be written.
bool seedRoot(const std::string& root, const std::string& packageDir, std::string& error);

}  // namespace orva_root
