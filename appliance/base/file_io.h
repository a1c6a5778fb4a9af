// The appliance's file helpers, one of each: whole-file reads, atomic and
// durable replacement (temporary file in the same folder, fsync, rename,
// folder fsync), folder creation, and log lines.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>

namespace orva_file {

// Writes all of data to fd, resuming after interruptions; false on error.
bool writeAll(int fd, const char* data, size_t size);

// The folder part of path: "." for a bare name, "/" for "/name".
std::string parentFolder(const std::string& path);

// Folders whose entries changed and still need an fsync. A rename, a new
// file or a new folder is only durable once its folder is synced; a caller
// that makes several changes gathers them here and syncs each folder once.
class FolderSync {
 public:
  FolderSync() = default;
  ~FolderSync() { flush(); }
  FolderSync(const FolderSync&) = delete;
  FolderSync& operator=(const FolderSync&) = delete;

  void add(const std::string& folder);
  // fsyncs every pending folder once; true when all of them synced.
  bool flush() noexcept;

 private:
  std::set<std::string> pending_;
};

// Whether the last component of a path may be a symbolic link.
enum class Links { kFollow, kRefuse };

// Reads fd from its position to the end into out; false on a read error or
// when the content would pass maxBytes.
bool readAll(int fd, std::string& out, size_t maxBytes = SIZE_MAX);

// Reads a regular file whole into out; false when it cannot be opened or read,
// is not a regular file (a folder in its place counts as unreadable), is a
// symbolic link and links is kRefuse, or is larger than maxBytes.
bool readWhole(const std::string& path, std::string& out, Links links = Links::kFollow,
               size_t maxBytes = SIZE_MAX);

// Temporary files of writeAtomic are named "<kTempPrefix>XXXXXX" in the
// target's folder; the leading dot keeps them out of folder scans.
constexpr const char* kTempPrefix = ".orva-tmp-";
bool isTempName(const std::string& name);
// Removes every temporary of writeAtomic left in folder by a writer that was
// killed. Only for a caller that holds the lock every writer of the folder
// takes, so that no temporary still being written is removed. Returns how
// many it removed.
int removeStaleTemps(const std::string& folder);

struct WriteOptions {
  // Mode of a new file; an existing file keeps its own unless keepMode is false.
  mode_t mode = 0644;
  bool keepMode = true;
  // False: an existing file wins and is left as it is (the call still
  // succeeds); used for files that must be made once only.
  bool replace = true;
  // Where the folder's fsync is gathered; null: synced before returning.
  FolderSync* sync = nullptr;
  // False: neither the file nor its folder is synced (still atomic for
  // readers): for copies that nothing keeps, such as an export.
  bool durable = true;
};

// Replaces path with content so that readers see either the old or the new
// file, never a part, and a crash leaves one of the two: the content goes to
// a temporary file in the same folder, which is fsynced and then renamed
// (or linked, without replace) into place; then the folder is fsynced. False
// (path untouched, no temporary left) when it cannot; a folder or anything
// but a regular file in the way of replace is never replaced.
bool writeAtomic(const std::string& path, const std::string& content,
                 const WriteOptions& options = WriteOptions());

// Creates the folder and any missing parents with mode; true when it is a
// folder afterwards. Each folder that gains an entry is added to sync (or
// fsynced at once when sync is null). Below noLinksBelow (a leading part of
// path; "" for none), every part must be a real folder, never a symbolic
// link, and an existing last folder with more than mode allows is narrowed to
// mode.
bool makeFolders(const std::string& path, mode_t mode = 0755, FolderSync* sync = nullptr,
                 const std::string& noLinksBelow = std::string());

// Removes the file (a symbolic link itself, never its target) and adds its
// folder to sync (or fsyncs it at once when sync is null).
bool removeFile(const std::string& path, FolderSync* sync = nullptr);

// Appends one line (a line feed is added) with O_APPEND, creating the file.
// Control characters inside line are written as '?', so that a value taken
// from a request can never start a line of its own.
bool appendLine(const std::string& path, const std::string& line);

// "2026-01-31T12:00:00Z", the stamp every appliance log line starts with.
std::string utcStamp();

}  // namespace orva_file
