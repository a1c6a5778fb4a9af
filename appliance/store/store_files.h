// File primitives of the store: atomic, durable replacement of a file and
// creation of folders, with the folder fsyncs gathered until the handle ends.
#pragma once

#include <set>
#include <string>

namespace orva_store {

// Folders whose entries changed and still need an fsync. A rename or a new
// folder is only durable once its parent folder is synced.
class DirSync {
 public:
  DirSync() = default;
  ~DirSync() { flush(); }
  DirSync(const DirSync&) = delete;
  DirSync& operator=(const DirSync&) = delete;

  void add(const std::string& dir);
  // fsyncs every pending folder once; true when all of them synced.
  bool flush() noexcept;

 private:
  std::set<std::string> pending_;
};

// Creates the folder and any missing parents (mode 0755); each parent that
// gains an entry is queued on sync. True when the folder exists afterwards.
bool ensureDirs(const std::string& path, DirSync& sync);

// Writes data to dir/name through a temporary file in dir (name beginning
// with '.'): write, fsync, rename over any earlier file. The folder is queued
// on sync. On failure the earlier file is untouched and no temporary stays.
bool writeFileAtomic(const std::string& dir, const std::string& name, const std::string& data,
                     DirSync& sync);

// Removes the file and queues its folder on sync.
bool removeFile(const std::string& path, DirSync& sync);

// Whole content of a regular file (symbolic links are not followed).
bool readWholeFile(const std::string& path, std::string& out);

// lstat of path: does anything stand there / is it a regular file.
bool entryExists(const std::string& path);
bool isRegularFile(const std::string& path);

}  // namespace orva_store
