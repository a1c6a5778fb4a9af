#include "appliance/base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

namespace orva_file {

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool readWhole(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  out.swap(text);
  return true;
}

bool writeAtomic(const std::string& path, const std::string& content, mode_t newMode) {
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) return false;
  const std::string folder = folderOf(path);

  mode_t mode = newMode;
  struct stat old {};
  if (::lstat(path.c_str(), &old) == 0) {
    // Never replace a folder or a device by a file.
    if (!S_ISREG(old.st_mode)) return false;
    mode = old.st_mode & 07777;
  }

  // A leading dot keeps the temporary file out of folder scans.
  std::string pattern = folder + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const std::string temp(name.data());
  bool ok =
      ::fchmod(fd, mode) == 0 && writeAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here leaves the new file in place.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

bool appendLine(const std::string& path, const std::string& line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string text = line;
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = '?';
  }
  text.push_back('\n');
  // One write, so lines of concurrent writers stay whole.
  bool ok = writeAll(fd, text.data(), text.size());
  ok = ::close(fd) == 0 && ok;
  return ok;
}

std::string utcStamp() {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  struct tm tmNow {};
  gmtime_r(&now, &tmNow);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tmNow);
  return stamp;
}

}  // namespace orva_file
