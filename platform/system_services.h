// The appliance's base services that the settings methods drive: port test,
// program runner, services-file writer and firewall reload.
#pragma once

#include <string>

namespace WebUtils {
// True when port (given twice, as a range from port to portEnd) may not be
// used by the named service: out of 1..65535, held by another service
// definition, or reserved by the appliance.
bool IsPortConflict(const std::string& serviceName, int port, int portEnd);
}  // namespace WebUtils

extern "C" {
// Runs the program with up to four arguments (null ends the list early) and
// waits for it; negative when it cannot start or does not exit with 0.
int OLIBCExec(const char* program, const char* arg1, const char* arg2, const char* arg3,
              const char* arg4);
// Sets key=value in [section] of an INI-style file, creating what is missing
// and keeping every other line; negative when the file cannot be written.
int OLIBCFileSetSectionValue(const char* file, const char* section, const char* key,
                             const char* value);
// Reloads the firewall from the service definitions; negative on failure.
int ORVAFwRuleHup(void);
}
