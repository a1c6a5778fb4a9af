// The methods and call commands: one table listing, one request from the
// command line.
#pragma once

#include "appliance/host/commands/arguments.h"
#include "appliance/host/api/module_loader.h"

namespace orva_host {

// Prints "API\tVERSION\tMETHOD" per table row. Returns the exit status.
int runMethods(const LoadedModule& module);

// Runs one request and prints its envelope on one line. Returns the exit
// status: 0 success, 1 error answer, 2 when the answer could not be printed.
// The answer is not torn down: the process is about to end, and the exit
// takes its memory back at once.
int runCall(const LoadedModule& module, const Options& options);

}  // namespace orva_host
