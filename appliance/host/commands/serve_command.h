// The serve command: the module's methods over HTTP (POST /webapi) for
// clients that hold the access token, and the administration page.
#pragma once

#include <string>

#include "appliance/host/commands/arguments.h"
#include "appliance/host/api/module_loader.h"

namespace orva_host {

// Serves until SIGINT or SIGTERM. Returns the exit status: 0 after a clean
// stop, 2 when it cannot start.
int runServe(const LoadedModule& module, const Options& options, const std::string& root);

}  // namespace orva_host
