#include "appliance/store/store_files.h"

#include <sys/stat.h>

#include <cerrno>

#include "appliance/store/store_layout.h"

namespace orva_store {

bool ensureDirs(const std::string& path, FolderSync& sync) {
  return orva_file::makeFolders(path, 0700, &sync, storeBaseDir());
}

bool writeFileAtomic(const std::string& dir, const std::string& name, const std::string& data,
                     FolderSync& sync) {
  orva_file::WriteOptions options;
  options.mode = 0600;
  options.keepMode = false;
  options.sync = &sync;
  return orva_file::writeAtomic(dir + "/" + name, data, options);
}

bool writeCopyAtomic(const std::string& dir, const std::string& name, const std::string& data) {
  orva_file::WriteOptions options;
  options.mode = 0600;
  options.keepMode = false;
  options.durable = false;
  return orva_file::writeAtomic(dir + "/" + name, data, options);
}

bool removeFile(const std::string& path, FolderSync& sync) {
  return orva_file::removeFile(path, &sync);
}

bool readWholeFile(const std::string& path, std::string& out) {
  return orva_file::readWhole(path, out, orva_file::Links::kRefuse);
}

bool hasNoLinks(const std::string& path) {
  const std::string base = storeBaseDir();
  if (path.compare(0, base.size(), base) != 0) return false;
  // The base itself may be a link (to a data volume); nothing below it.
  struct stat baseStat {};
  if (::stat(base.c_str(), &baseStat) != 0 || !S_ISDIR(baseStat.st_mode)) return false;
  if (path.size() == base.size()) return true;
  if (path[base.size()] != '/') return false;
  for (size_t slash = path.find('/', base.size() + 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = slash == std::string::npos ? path : path.substr(0, slash);
    struct stat st {};
    if (::lstat(prefix.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return false;
    if (slash == std::string::npos) return true;
  }
}

void clearStaleTemps(const std::string& dir, std::set<std::string>& cleared) {
  if (cleared.insert(dir).second) orva_file::removeStaleTemps(dir);
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
