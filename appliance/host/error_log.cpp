// The host's error log: one line per call in var/log/webapi.log under the
// appliance root, also on standard error when ORVA_VERBOSE is set.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "platform/webapi.h"

extern "C" int ErrorLog(const char* file, int line, int level, const char* format, ...) {
  char message[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format != nullptr ? format : "", args);
  va_end(args);

  char head[512];
  std::snprintf(head, sizeof head, " %s:%d level=%d ", file != nullptr ? file : "?", line, level);
  const std::string text = orva_file::utcStamp() + head + message;

  const char* verbose = std::getenv("ORVA_VERBOSE");
  if (verbose != nullptr && verbose[0] != '\0' && verbose[0] != '0') {
    const std::string shown = text + "\n";
    (void)!::write(STDERR_FILENO, shown.data(), shown.size());
  }

  const std::string dir = orva_root::underRoot("/var/log");
  orva_file::makeFolders(dir);
  // One O_APPEND write a line keeps lines of concurrent requests whole.
  return orva_file::appendLine(dir + "/webapi.log", text) ? 0 : -1;
}
