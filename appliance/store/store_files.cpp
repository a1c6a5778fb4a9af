#include "appliance/store/store_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "appliance/base/file_io.h"

namespace orva_store {

namespace {

using orva_file::writeAll;

std::string parentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool fsyncDir(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

void DirSync::add(const std::string& dir) { pending_.insert(dir); }

bool DirSync::flush() noexcept {
  bool ok = true;
  for (const std::string& dir : pending_) ok = fsyncDir(dir) && ok;
  pending_.clear();
  return ok;
}

bool ensureDirs(const std::string& path, DirSync& sync) {
  if (path.empty() || path[0] != '/') return false;
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = slash == std::string::npos ? path : path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0755) == 0) {
      sync.add(parentOf(prefix));
    } else if (errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeFileAtomic(const std::string& dir, const std::string& name, const std::string& data,
                     DirSync& sync) {
  std::string temp = dir + "/.orva-tmp-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, data.data(), data.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), (dir + "/" + name).c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  sync.add(dir);
  return true;
}

bool removeFile(const std::string& path, DirSync& sync) {
  if (::unlink(path.c_str()) != 0) return false;
  sync.add(parentOf(path));
  return true;
}

bool readWholeFile(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  out.clear();
  if (ok) {
    std::vector<char> buffer(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096);
    for (;;) {
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        break;
      }
      out.append(buffer.data(), static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return ok;
}

bool entryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace orva_store
