#include "appliance/store/book_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "appliance/store/store_layout.h"

namespace orva_store {

namespace {

std::vector<std::string> cardNames(int dirFd) {
  std::vector<std::string> names;
  const int listFd = ::dup(dirFd);
  if (listFd < 0) return names;
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return names;
  }
  names.reserve(1024);
  while (const dirent* entry = ::readdir(dir)) {
    std::string name(entry->d_name);
    if (!isSafeName(name)) continue;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        continue;
      }
    } else if (entry->d_type != DT_REG) {
      continue;
    }
    names.push_back(std::move(name));
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// Reads the open file whole into buffer (grown as needed); its length, or -1.
ssize_t readAll(int fd, std::vector<char>& buffer) {
  size_t length = 0;
  for (;;) {
    if (length == buffer.size()) buffer.resize(buffer.size() * 2);
    const ssize_t n = ::read(fd, buffer.data() + length, buffer.size() - length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    length += static_cast<size_t>(n);
    // A short read of a regular file means its end: one read per card.
    if (length < buffer.size()) break;
  }
  return static_cast<ssize_t>(length);
}

}  // namespace

int readBook(const std::string& dir, Json::Value& ids, Json::Value& texts) {
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  const std::vector<std::string> names = cardNames(dirFd);
  std::vector<char> buffer(64 * 1024);
  int count = 0;
  for (const std::string& name : names) {
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    const ssize_t length = readAll(fd, buffer);
    ::close(fd);
    if (length < 0) continue;
    ids.append(Json::Value(name));
    texts.append(Json::Value(buffer.data(), buffer.data() + length));
    ++count;
  }
  ::close(dirFd);
  return count;
}

}  // namespace orva_store
