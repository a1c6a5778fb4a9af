// Keeping one write of a collection before it lands: the write's records are
// appended to the collection's journal and made durable first; only then are
// the files changed; then the write is sealed. A history that cannot be
// written refuses the write (keep() is false and nothing may be changed).
// A writer killed between keep() and seal() leaves records that the next
// open checks against the files: what landed stays kept, the rest is cut,
// so that the collection and its history agree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "appliance/base/file_io.h"

namespace orva_history {

// With the exclusive lock held: makes sure the collection has a history
// (its base is the folder as it is now) and that an unsealed write left by a
// killed writer is settled. False when the history cannot be written.
bool openHistory(const std::string& user, const std::string& collection,
                 orva_file::FolderSync& sync);

class KeptWrite {
 public:
  // change names the change the write belongs to (one request, one import);
  // maker is who made it, as the page shows it.
  KeptWrite(std::string user, std::string collection, std::string change, std::string maker);
  ~KeptWrite();
  KeptWrite(const KeptWrite&) = delete;
  KeptWrite& operator=(const KeptWrite&) = delete;

  // The entry will hold text / will be deleted (text: the bytes it had).
  void put(const std::string& name, std::string_view text);
  void remove(const std::string& name, std::string_view text);
  std::size_t size() const { return count_; }

  // Opens the history and appends the records durably. False: nothing is
  // kept and the write must not be made.
  bool keep(orva_file::FolderSync& sync);
  // Every record's change landed.
  void seal();
  // Only the first n records' changes landed (a batch that stopped).
  void sealFirst(std::size_t n);
  // Nothing landed: the records are cut off again. Also what the destructor
  // does for a kept write that was never sealed.
  void cancel() { sealFirst(0); }

 private:
  // A history grown over its size limit drops its oldest changes at once.
  void keepUnderLimit(std::uint64_t journalSize) const;

  std::string user_, collection_, change_, maker_;
  std::string records_;
  std::vector<std::size_t> ends_;  // where each record ends in records_
  std::size_t count_ = 0;
  std::int64_t timeMs_ = 0;
  int fd_ = -1;
  std::uint64_t start_ = 0;
};

}  // namespace orva_history
