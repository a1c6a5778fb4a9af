// Many new files in one folder, made durable together. One fsync per file
// costs a journal commit each; a batch pays for one sync of the file system
// and one of the folder, however many files it holds.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace orva_file {

class AtomicBatch {
 public:
  // Files go into folder (which must exist) with mode.
  AtomicBatch(std::string folder, mode_t mode);
  // Removes the temporaries of files not committed.
  ~AtomicBatch();
  AtomicBatch(const AtomicBatch&) = delete;
  AtomicBatch& operator=(const AtomicBatch&) = delete;

  // Writes content to a temporary file in the folder ("<kTempPrefix>XXXXXX",
  // which removeStaleTemps clears), not yet synced, to become folder/name at
  // commit. False, with nothing left behind, when it cannot be written.
  bool add(const std::string& name, const std::string& content);

  // Syncs every added file at once (syncfs of the folder's file system),
  // then moves each into place under its name, never replacing anything that
  // stands there, then syncs the folder. Returns how many files are now in
  // place and durable, in the order added; those after a failure are not
  // (their temporaries are removed). A crash at any point leaves each file
  // whole or absent, never part of one.
  std::size_t commit();

  std::size_t pending() const { return entries_.size(); }

 private:
  struct Entry {
    std::string temp;
    std::string name;
  };
  std::string folder_;
  mode_t mode_;
  std::vector<Entry> entries_;
};

}  // namespace orva_file
