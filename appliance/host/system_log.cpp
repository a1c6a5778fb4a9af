// The appliance's system log. The host library stands in for the C library's
// syslog so that what modules write to it lands under the appliance root
// (var/log/messages), where the appliance keeps every trace it makes.
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "appliance/base/appliance_root.h"

namespace {

void appendSystemLog(int priority, const char* format, va_list args) {
  char message[4096];
  std::vsnprintf(message, sizeof message, format != nullptr ? format : "", args);
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  struct tm tmNow {};
  gmtime_r(&now, &tmNow);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tmNow);
  char head[64];
  std::snprintf(head, sizeof head, "%s <%d> ", stamp, LOG_PRI(priority));
  const std::string line = std::string(head) + message + "\n";

  const std::string dir = orva_root::underRoot("/var/log");
  orva_root::makeDirs(dir);
  const int fd =
      ::open((dir + "/messages").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  (void)!::write(fd, line.data(), line.size());
  ::close(fd);
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
