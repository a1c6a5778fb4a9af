// The host's error log: one line per call in var/log/webapi.log under the
// appliance root, also on standard error when ORVA_VERBOSE is set.
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "appliance/base/appliance_root.h"
#include "platform/webapi.h"

extern "C" int ErrorLog(const char* file, int line, int level, const char* format, ...) {
  char message[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format != nullptr ? format : "", args);
  va_end(args);

  char stamp[32];
  const std::time_t now = std::time(nullptr);
  struct tm tmNow {};
  gmtime_r(&now, &tmNow);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tmNow);

  char head[512];
  std::snprintf(head, sizeof head, "%s %s:%d level=%d ", stamp, file != nullptr ? file : "?",
                line, level);
  const std::string text = std::string(head) + message + "\n";

  const char* verbose = std::getenv("ORVA_VERBOSE");
  if (verbose != nullptr && verbose[0] != '\0' && verbose[0] != '0') {
    (void)!::write(STDERR_FILENO, text.data(), text.size());
  }

  const std::string dir = orva_root::underRoot("/var/log");
  orva_root::makeDirs(dir);
  // O_APPEND keeps lines from concurrent requests whole.
  const int fd = ::open((dir + "/webapi.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                        0644);
  if (fd < 0) return -1;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return written ? 0 : -1;
}
