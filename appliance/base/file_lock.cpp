// OLIBCFileLock: an flock on a file under the appliance root. Each call opens
// the file anew, so that two threads of one process exclude each other as
// two processes do (flock belongs to the open file, not to the process).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "platform/system_services.h"

extern "C" int OLIBCFileLock(const char* file) {
  if (file == nullptr || file[0] != '/') return -1;
  const std::string path = orva_root::underRoot(file);
  if (!orva_file::makeFolders(orva_file::parentFolder(path))) return -1;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

extern "C" void OLIBCFileUnlock(int lock) {
  // Closing the descriptor gives the lock back.
  if (lock >= 0) ::close(lock);
}
