// The appliance's base services that the settings methods drive: port test,
// program runner, services-file reader and writer, firewall reload and file
// locks. File paths are the appliance's absolute paths.
#pragma once

#include <cstddef>
#include <string>

namespace WebUtils {
// True when port (given twice, as a range from port to portEnd) may not be
// used by the named service: out of 1..65535, held by another service
// definition, or reserved by the appliance.
bool IsPortConflict(const std::string& serviceName, int port, int portEnd);
}  // namespace WebUtils

extern "C" {
// Runs the program with up to four arguments (null ends the list early) and
// waits for it; negative when it cannot start, does not exit with 0, or runs
// past the appliance's time limit for programs (it and what it started are
// then stopped).
int OLIBCExec(const char* program, const char* arg1, const char* arg2, const char* arg3,
              const char* arg4);
// Sets key=value in [section] of an INI-style file, creating what is missing
// and keeping every other line; negative when the file cannot be written.
int OLIBCFileSetSectionValue(const char* file, const char* section, const char* key,
                             const char* value);
// Copies the value of key in [section] of an INI-style file, without its
// quotes, into value (size bytes, NUL-terminated); negative when the file,
// the section or the key is missing or the value does not fit.
int OLIBCFileGetSectionValue(const char* file, const char* section, const char* key, char* value,
                             size_t size);
// Reloads the firewall from the service definitions; negative on failure.
int ORVAFwRuleHup(void);
// Takes an exclusive lock named by a file (created when missing), waiting
// while another thread or process holds it. Returns the lock's handle, or a
// negative number when it cannot be taken. Every lock taken is given back
// with OLIBCFileUnlock.
int OLIBCFileLock(const char* file);
void OLIBCFileUnlock(int lock);
}
