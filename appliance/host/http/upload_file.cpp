#include "appliance/host/http/upload_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"

namespace orva_host {

namespace {

constexpr const char* kFilePrefix = "upload-";

// The folder exists as a real folder of ours with mode 0700; a symbolic link
// or someone else's folder in its place is refused.
bool ensurePrivateFolder(const std::string& folder, std::string& error) {
  const std::string parent = orva_file::parentFolder(folder);
  if (!orva_file::makeFolders(parent)) {
    error = "cannot create " + parent;
    return false;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    error = folder + " is not a folder of this user";
    return false;
  }
  if ((st.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) {
    error = "cannot make " + folder + " private";
    return false;
  }
  return true;
}

}  // namespace

std::string uploadFolder(const std::string& root) {
  return (root == "/" ? std::string() : root) + "/var/tmp/orva-webapi";
}

void clearUploadFolder(const std::string& root) {
  const std::string folder = uploadFolder(root);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, kFilePrefix, std::strlen(kFilePrefix)) == 0) {
      names.emplace_back(entry->d_name);
    }
  }
  ::closedir(dir);
  for (const std::string& name : names) ::unlink((folder + "/" + name).c_str());
}

int openNamelessFile(const std::string& root) {
  const std::string folder = uploadFolder(root);
  std::string error;
  if (!ensurePrivateFolder(folder, error)) return -1;
  return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

UploadFile::~UploadFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool UploadFile::store(const std::string& root, const std::string& content, std::string& error) {
  const std::string folder = uploadFolder(root);
  if (!ensurePrivateFolder(folder, error)) return false;
  std::string name = folder + "/" + kFilePrefix + "XXXXXX";
  // mkstemp makes the file with mode 0600 and O_EXCL.
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "cannot create a file in " + folder + ": " + std::strerror(errno);
    return false;
  }
  const bool written = orva_file::writeAll(fd, content.data(), content.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(name.c_str());
    error = "cannot write " + name;
    return false;
  }
  path_ = name;
  return true;
}

}  // namespace orva_host
