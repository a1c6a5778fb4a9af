#include "appliance/base/file_io.h"

#include <dirent.h>
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

std::string parentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

bool fsyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

void folderChanged(const std::string& folder, FolderSync* sync) {
  if (sync != nullptr) {
    sync->add(folder);
  } else {
    fsyncFolder(folder);
  }
}

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void FolderSync::add(const std::string& folder) { pending_.insert(folder); }

bool FolderSync::flush() noexcept {
  bool ok = true;
  for (const std::string& folder : pending_) ok = fsyncFolder(folder) && ok;
  pending_.clear();
  return ok;
}

bool readAll(int fd, std::string& out, size_t maxBytes) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    if (static_cast<size_t>(n) > maxBytes - text.size()) return false;
    text.append(buffer, static_cast<size_t>(n));
  }
  out.swap(text);
  return true;
}

bool readWhole(const std::string& path, std::string& out, Links links, size_t maxBytes) {
  // Non-blocking: opening a FIFO would otherwise wait for a writer for ever;
  // it is then refused as not a regular file before any read.
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::kRefuse ? O_NOFOLLOW : 0);
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return false;
  struct stat st {};
  const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && readAll(fd, out, maxBytes);
  ::close(fd);
  return ok;
}

bool isTempName(const std::string& name) { return name.rfind(kTempPrefix, 0) == 0; }

int removeStaleTemps(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    if (isTempName(entry->d_name)) stale.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  int removed = 0;
  for (const std::string& name : stale) {
    if (::unlink((folder + "/" + name).c_str()) == 0) ++removed;
  }
  if (removed > 0) fsyncFolder(folder);
  return removed;
}

bool writeAtomic(const std::string& path, const std::string& content, const WriteOptions& options) {
  if (baseName(path).empty()) return false;
  const std::string folder = parentFolder(path);

  mode_t mode = options.mode;
  struct stat old {};
  if (::lstat(path.c_str(), &old) == 0) {
    if (!options.replace) return true;
    // Never replace a folder, a device or a symbolic link by a file.
    if (!S_ISREG(old.st_mode)) return false;
    if (options.keepMode) mode = old.st_mode & 07777;
  }

  std::string pattern = folder + "/" + kTempPrefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const std::string temp(name.data());
  bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, content.data(), content.size()) &&
            (!options.durable || ::fsync(fd) == 0);
  ok = ::close(fd) == 0 && ok;
  if (ok && options.replace) {
    ok = ::rename(temp.c_str(), path.c_str()) == 0;
  } else if (ok) {
    // link() never replaces: whoever made the file first wins.
    ok = ::link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST;
    ::unlink(temp.c_str());
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  if (options.durable) folderChanged(folder, options.sync);
  return true;
}

bool makeFolders(const std::string& path, mode_t mode, FolderSync* sync,
                 const std::string& noLinksBelow) {
  if (path.empty()) return false;
  const bool guarded =
      !noLinksBelow.empty() && path.compare(0, noLinksBelow.size(), noLinksBelow) == 0;
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = slash == std::string::npos ? path : path.substr(0, slash);
    if (!prefix.empty()) {
      if (::mkdir(prefix.c_str(), mode) == 0) {
        folderChanged(parentFolder(prefix), sync);
      } else if (errno != EEXIST) {
        return false;
      } else if (guarded && prefix.size() > noLinksBelow.size()) {
        struct stat st {};
        if (::lstat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        if (slash == std::string::npos && (st.st_mode & 07777 & ~mode) != 0 &&
            ::chmod(prefix.c_str(), st.st_mode & 07777 & mode) != 0) {
          return false;
        }
      }
    }
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path, FolderSync* sync) {
  if (::unlink(path.c_str()) != 0) return false;
  folderChanged(parentFolder(path), sync);
  return true;
}

bool appendLine(const std::string& path, const std::string& line) {
  // A FIFO or device in a log's place is neither waited for nor written.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
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
