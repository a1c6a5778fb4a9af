// The host's start-up: the appliance root, the environment that libraries
// and child programs read, and the paths beside the program.
#pragma once

#include <string>

namespace orva_host {

// Folder of the running program (from /proc/self/exe); "" if unknown.
std::string programDir();

// Makes rootArg absolute (empty: $ORVA_ROOT, else "/"), creates it, sets
// ORVA_ROOT (and ORVA_VERBOSE=1 when verbose) and seeds it with the package
// files beside the program. Call before any thread starts. False with a
// reason in error on failure.
bool setUpRoot(const std::string& rootArg, bool verbose, std::string& root, std::string& error);

// The module to load: moduleArg made absolute, or the default beside the
// program.
std::string modulePath(const std::string& moduleArg);

// The folder of the administration page: uiArg made absolute, or the
// default beside the program.
std::string uiFolderPath(const std::string& uiArg);

}  // namespace orva_host
