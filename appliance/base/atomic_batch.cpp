#include "appliance/base/atomic_batch.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "appliance/base/file_io.h"

namespace orva_file {

namespace {

// Moves temp to path only when nothing stands at path.
bool moveIntoPlace(const std::string& temp, const std::string& path) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without RENAME_NOREPLACE: link() never replaces either.
  if (::link(temp.c_str(), path.c_str()) != 0) return false;
  ::unlink(temp.c_str());
  return true;
}

}  // namespace

AtomicBatch::AtomicBatch(std::string folder, mode_t mode)
    : folder_(std::move(folder)), mode_(mode) {}

AtomicBatch::~AtomicBatch() {
  for (const Entry& entry : entries_) ::unlink(entry.temp.c_str());
}

bool AtomicBatch::add(const std::string& name, const std::string& content) {
  std::string pattern = folder_ + "/" + kTempPrefix + "XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode_) == 0 && writeAll(fd, content.data(), content.size());
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(pattern.c_str());
    return false;
  }
  entries_.push_back(Entry{pattern, name});
  return true;
}

std::size_t AtomicBatch::commit() {
  if (entries_.empty()) return 0;
  const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Every temporary's data on disk before any of them gets its name.
  bool ok = folder >= 0 && ::syncfs(folder) == 0;
  std::size_t placed = 0;
  for (; ok && placed < entries_.size(); ++placed) {
    const Entry& entry = entries_[placed];
    ok = moveIntoPlace(entry.temp, folder_ + "/" + entry.name);
  }
  if (!ok && placed > 0) --placed;  // the entry that failed is not in place
  // The names, durable: without this a crash could forget them. Names that
  // cannot be made durable are taken back, so that none counts as stored.
  if (placed > 0 && ::fsync(folder) != 0) {
    for (std::size_t i = 0; i < placed; ++i) ::unlink((folder_ + "/" + entries_[i].name).c_str());
    placed = 0;
  }
  if (folder >= 0) ::close(folder);
  // Temporaries of entries not placed go; placed ones were renamed away.
  for (std::size_t i = placed; i < entries_.size(); ++i) ::unlink(entries_[i].temp.c_str());
  entries_.clear();
  return placed;
}

}  // namespace orva_file
