// Where a collection's history lies, and reading it. The history of a
// collection is kept beside the server's storage folder, never inside it, so
// that clients see no extra file:
//
//   var/packages/Tessaro/var/history/
//     settings.json                 how long changes are kept, the size limit
//     <user>/<collection>/
//       base                        the collection as it was when the kept
//                                   changes begin (records, one per entry)
//       journal                     every change since, appended (records)
//       seen                        what the server's hook saw of the files
//
// Every function here expects the store lock to be held by the caller
// (shared to read, exclusive to write), or to run inside the server's hook,
// which runs under the server's exclusive hold of the same lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "appliance/base/file_io.h"
#include "appliance/history/history_record.h"

namespace orva_history {

std::string historyRoot();
std::string historyDir(const std::string& user, const std::string& collection);
std::string collectionDir(const std::string& user, const std::string& collection);

// The entries of a collection folder that are kept: its cards or events and
// its properties file; never the server's cache, temporaries or other dot
// files. Sorted.
std::vector<std::string> keptEntries(const std::string& folder);
// The folder's kept files, or its sub-folders with names the store takes.
enum class Kind { kFiles, kFolders };
std::vector<std::string> folderEntries(const std::string& folder, Kind kind);
bool isKeptName(const std::string& name);

// A collection's history read whole: the base's records, then the journal's.
struct History {
  std::string baseBytes;  // uncompressed
  std::uint64_t baseFileSize = 0;
  std::string journalBytes;
  std::vector<Record> records;  // views into the two strings above
  std::size_t baseCount = 0;    // the first baseCount records are the base
  std::int64_t startMs = 0;     // the time the base stands for
  bool trimmed = false;         // entries were dropped for the size limit
  bool exists = false;
};

// False when the history cannot be read (it may be absent: exists false).
bool readHistory(const std::string& user, const std::string& collection, History& out);

// Each entry's last record at or before untilMs (all of them when
// untilMs < 0), by name.
std::map<std::string, const Record*> latestRecords(const History& history,
                                                   std::int64_t untilMs = -1);

// The base's first line: "\x1eB <start ms> <trimmed 0|1>\n".
std::string encodeBaseHeader(std::int64_t startMs, bool trimmed);
// With the exclusive lock held: writes the base (header and records),
// compressed: it holds every entry, and cards compress well together.
bool writeBaseFile(const std::string& dir, const std::string& base, orva_file::FolderSync& sync);

}  // namespace orva_history
