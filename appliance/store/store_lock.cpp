#include "appliance/store/store_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "appliance/store/store_layout.h"

namespace orva_store {

StoreLock::StoreLock(Mode mode) {
  // A fresh descriptor per lock: flock belongs to the open file, and a
  // descriptor kept across fork would share its lock with the child.
  const std::string path = lockPath();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // The server may own the file; a read-only descriptor locks as well.
  if (fd_ < 0 && errno == EACCES) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  const int operation = mode == kExclusive ? LOCK_EX : LOCK_SH;
  int rc;
  do {
    rc = ::flock(fd_, operation);
  } while (rc != 0 && errno == EINTR);
  held_ = rc == 0;
}

StoreLock::~StoreLock() {
  // Closing the descriptor releases the lock.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace orva_store
