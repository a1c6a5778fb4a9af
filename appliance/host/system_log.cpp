// The appliance's system log. The host library stands in for the C library's
// syslog so that what modules write to it lands under the appliance root
// (var/log/messages), where the appliance keeps every trace it makes.
#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"

namespace {

void appendSystemLog(int priority, const char* format, va_list args) {
  char message[4096];
  std::vsnprintf(message, sizeof message, format != nullptr ? format : "", args);
  char head[32];
  std::snprintf(head, sizeof head, " <%d> ", LOG_PRI(priority));
  const std::string dir = orva_root::underRoot("/var/log");
  orva_file::makeFolders(dir);
  orva_file::appendLine(dir + "/messages", orva_file::utcStamp() + head + message);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  appendSystemLog(priority, format, args);
  va_end(args);
}

__attribute__((visibility("default"))) void vsyslog(int priority, const char* format,
                                                    va_list args) {
  appendSystemLog(priority, format, args);
}

__attribute__((visibility("default"))) void __syslog_chk(int priority, int, const char* format,
                                                         ...) {
  va_list args;
  va_start(args, format);
  appendSystemLog(priority, format, args);
  va_end(args);
}

}  // extern "C"
