// import-calendar and export-calendar: a calendar file in or out from the
// command line, for files of any size (the upload route holds the file in
// memory first).
#pragma once

#include "appliance/host/commands/arguments.h"

namespace orva_host {

// Prints the import's envelope; 0 on success, 1 for an error answer.
int runImportCalendar(const Options& options);
// Prints the calendar; 0 on success, 1 when it cannot be read.
int runExportCalendar(const Options& options);

}  // namespace orva_host
