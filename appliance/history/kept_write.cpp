#include "appliance/history/kept_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "appliance/history/history_files.h"
#include "appliance/history/history_prune.h"
#include "appliance/store/card_version.h"
#include "appliance/store/store_files.h"

namespace orva_history {

namespace {

constexpr const char* kStartChange = "start";
constexpr const char* kStartMaker = "before keeping began";

// The folder as it is now, as the base of a new history.
bool writeBase(const std::string& user, const std::string& collection,
               orva_file::FolderSync& sync) {
  const std::string folder = collectionDir(user, collection);
  const std::int64_t now = nowMs();
  std::string base = encodeBaseHeader(now, false);
  for (const std::string& name : keptEntries(folder)) {
    std::string text;
    if (!orva_store::readWholeFile(folder + "/" + name, text)) continue;
    base += encodeRecord('P', now, kStartChange, orva_store::cardVersion(text), name, kStartMaker,
                         text);
  }
  const std::string dir = historyDir(user, collection);
  // The journal first: a history counts once its base exists.
  return orva_store::ensureDirs(dir, sync) &&
         orva_store::writeFileAtomic(dir, "journal", "", sync) && writeBaseFile(dir, base, sync);
}

bool landed(const std::string& folder, const Record& record) {
  const std::string path = folder + "/" + std::string(record.name);
  std::string text;
  const bool present = orva_store::isRegularFile(path) && orva_store::readWholeFile(path, text);
  if (record.kind == 'D') return !present;
  return present && orva_store::cardVersion(text) == record.version;
}

// The records after the last seal belong to a write whose writer was
// killed: those whose change is in the folder stay (sealed now), the others
// are cut.
bool settleUnsealed(const std::string& user, const std::string& collection, int fd,
                    std::uint64_t size) {
  std::string bytes;
  bytes.resize(size);
  if (::pread(fd, bytes.data(), size, 0) != static_cast<ssize_t>(size)) return false;
  std::size_t pos = 0, sealedEnd = 0;
  std::vector<Record> pending;
  Record record;
  for (bool more = true; more;) {
    switch (parseNext(bytes, pos, record)) {
      case Parsed::kRecord:
        pending.push_back(record);
        break;
      case Parsed::kSeal:
        sealedEnd = pos;
        pending.clear();
        break;
      case Parsed::kEnd:
      case Parsed::kTorn:
        more = false;
        break;
    }
  }
  const std::string folder = collectionDir(user, collection);
  std::map<std::string_view, bool> nameLanded;
  for (const Record& r : pending) nameLanded[r.name] = landed(folder, r);
  std::string kept;
  for (const Record& r : pending) {
    if (!nameLanded[r.name]) continue;
    kept += encodeRecord(r.kind, r.timeMs, std::string(r.change), std::string(r.version),
                         std::string(r.name), std::string(r.maker), r.body);
  }
  if (!kept.empty()) kept += encodeSeal(sealedEnd, sealedEnd + kept.size());
  return ::ftruncate(fd, static_cast<off_t>(sealedEnd)) == 0 &&
         ::pwrite(fd, kept.data(), kept.size(), static_cast<off_t>(sealedEnd)) ==
             static_cast<ssize_t>(kept.size()) &&
         ::fdatasync(fd) == 0;
}

}  // namespace

bool openHistory(const std::string& user, const std::string& collection,
                 orva_file::FolderSync& sync) {
  const std::string dir = historyDir(user, collection);
  if (!orva_store::hasNoLinks(dir)) return false;
  if (!orva_store::entryExists(dir + "/base")) return writeBase(user, collection, sync);
  const int fd = ::open((dir + "/journal").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  const std::uint64_t size = ok ? static_cast<std::uint64_t>(st.st_size) : 0;
  if (ok && size > 0) {
    std::string tail(kSealSize, '\0');
    const bool sealed = size >= kSealSize &&
                        ::pread(fd, tail.data(), kSealSize, static_cast<off_t>(size - kSealSize)) ==
                            static_cast<ssize_t>(kSealSize) &&
                        isSealAt(tail, size);
    if (!sealed) ok = settleUnsealed(user, collection, fd, size);
  }
  ::close(fd);
  return ok;
}

KeptWrite::KeptWrite(std::string user, std::string collection, std::string change,
                     std::string maker)
    : user_(std::move(user)),
      collection_(std::move(collection)),
      change_(std::move(change)),
      maker_(std::move(maker)),
      timeMs_(nowMs()) {}

KeptWrite::~KeptWrite() {
  if (fd_ >= 0) cancel();
}

void KeptWrite::put(const std::string& name, std::string_view text) {
  records_ +=
      encodeRecord('P', timeMs_, change_, orva_store::cardVersion(text), name, maker_, text);
  ends_.push_back(records_.size());
  ++count_;
}

void KeptWrite::remove(const std::string& name, std::string_view text) {
  // The deleted bytes' version: the trash tells by it whether they are back.
  records_ += encodeRecord('D', timeMs_, change_,
                           text.empty() ? "-" : orva_store::cardVersion(text), name, maker_, text);
  ends_.push_back(records_.size());
  ++count_;
}

bool KeptWrite::keep(orva_file::FolderSync& sync) {
  if (fd_ >= 0 || !openHistory(user_, collection_, sync)) return false;
  const std::string path = historyDir(user_, collection_) + "/journal";
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  start_ = static_cast<std::uint64_t>(st.st_size);
  if (!orva_file::writeAll(fd, records_.data(), records_.size()) || ::fdatasync(fd) != 0) {
    // A full disk: the journal is cut back to what it was.
    if (::ftruncate(fd, static_cast<off_t>(start_)) == 0) ::fdatasync(fd);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void KeptWrite::seal() { sealFirst(count_); }

void KeptWrite::sealFirst(std::size_t n) {
  if (fd_ < 0) return;
  if (n < count_) {
    const std::uint64_t end = start_ + (n == 0 ? 0 : ends_[n - 1]);
    if (::ftruncate(fd_, static_cast<off_t>(end)) == 0) ::fdatasync(fd_);
  }
  if (n > 0) {
    // Not synced: a lost seal is found again by the next open's check.
    const std::uint64_t offset = start_ + ends_[n - 1];
    const std::string seal = encodeSeal(start_, offset);
    orva_file::writeAll(fd_, seal.data(), seal.size());
  }
  ::close(fd_);
  fd_ = -1;
  if (n > 0) keepUnderLimit(start_ + ends_[n - 1] + kSealSize);
}

void KeptWrite::keepUnderLimit(std::uint64_t journalSize) const {
  // No limit is below 1 MiB: a smaller history needs no look at the settings.
  struct stat st {};
  const std::string base = historyDir(user_, collection_) + "/base";
  if (::stat(base.c_str(), &st) != 0) return;
  const std::uint64_t size = journalSize + static_cast<std::uint64_t>(st.st_size);
  if (size <= (1u << 20)) return;
  const Settings settings = readSettings();
  // Pruned as the daily task would: oldest changes first.
  if (size > settings.sizeLimitBytes()) pruneCollection(user_, collection_, settings, nowMs());
}

}  // namespace orva_history
