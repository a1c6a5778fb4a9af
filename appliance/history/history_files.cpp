#include "appliance/history/history_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "appliance/base/file_io.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"

namespace orva_history {

std::string historyRoot() { return orva_store::storeBaseDir() + "/history"; }

std::string historyDir(const std::string& user, const std::string& collection) {
  return historyRoot() + "/" + user + "/" + collection;
}

std::string collectionDir(const std::string& user, const std::string& collection) {
  return orva_store::userCollectionDir(user) + "/" + collection;
}

bool isKeptName(const std::string& name) {
  return name == orva_store::kPropsFileName || orva_store::isSafeName(name);
}

std::vector<std::string> folderEntries(const std::string& folder, Kind kind) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (kind == Kind::kFolders ? !orva_store::isSafeName(name) : !isKeptName(name)) continue;
    const unsigned char wanted = kind == Kind::kFolders ? DT_DIR : DT_REG;
    if (entry->d_type != wanted && entry->d_type != DT_UNKNOWN) continue;
    struct stat st {};
    if (entry->d_type == DT_UNKNOWN &&
        (::lstat((folder + "/" + name).c_str(), &st) != 0 ||
         (kind == Kind::kFolders ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)))) {
      continue;
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> keptEntries(const std::string& folder) {
  return folderEntries(folder, Kind::kFiles);
}

std::string encodeBaseHeader(std::int64_t startMs, bool trimmed) {
  return "\x1e"
         "B " +
         std::to_string(startMs) + (trimmed ? " 1\n" : " 0\n");
}

namespace {

// "\x1eZ <size>\n" and the zlib stream of size bytes.
constexpr const char kPacked[] = "\x1eZ ";
constexpr uLong kMaxBase = 1ul << 31;

bool unpackBase(const std::string& packed, std::string& out) {
  const std::size_t lineEnd = packed.find('\n');
  if (packed.compare(0, 3, kPacked) != 0 || lineEnd == std::string::npos) return false;
  const unsigned long long size = std::strtoull(packed.c_str() + 3, nullptr, 10);
  if (size > kMaxBase) return false;
  out.resize(size);
  uLongf got = static_cast<uLongf>(size);
  return ::uncompress(reinterpret_cast<Bytef*>(out.data()), &got,
                      reinterpret_cast<const Bytef*>(packed.data() + lineEnd + 1),
                      static_cast<uLong>(packed.size() - lineEnd - 1)) == Z_OK &&
         got == size;
}

bool parseAll(const std::string& bytes, std::size_t pos, std::vector<Record>& out) {
  Record record;
  for (;;) {
    switch (parseNext(bytes, pos, record)) {
      case Parsed::kRecord:
        out.push_back(record);
        break;
      case Parsed::kSeal:
        break;
      case Parsed::kEnd:
        return true;
      case Parsed::kTorn:
        // Only an unfinished write leaves this, and opening for a write
        // repairs it; a reader takes what came before.
        return true;
    }
  }
}

}  // namespace

bool writeBaseFile(const std::string& dir, const std::string& base, orva_file::FolderSync& sync) {
  if (base.size() > kMaxBase) return false;
  uLongf size = ::compressBound(static_cast<uLong>(base.size()));
  std::string packed = kPacked + std::to_string(base.size()) + "\n";
  const std::size_t header = packed.size();
  packed.resize(header + size);
  if (::compress2(reinterpret_cast<Bytef*>(packed.data() + header), &size,
                  reinterpret_cast<const Bytef*>(base.data()), static_cast<uLong>(base.size()),
                  6) != Z_OK) {
    return false;
  }
  packed.resize(header + size);
  return orva_store::writeFileAtomic(dir, "base", packed, sync);
}

bool readHistory(const std::string& user, const std::string& collection, History& out) {
  out = History();
  const std::string dir = historyDir(user, collection);
  if (!orva_store::entryExists(dir + "/base")) return orva_store::hasNoLinks(dir);
  std::string packed;
  if (!orva_store::hasNoLinks(dir) || !orva_store::readWholeFile(dir + "/base", packed) ||
      !unpackBase(packed, out.baseBytes)) {
    return false;
  }
  out.baseFileSize = packed.size();
  if (orva_store::entryExists(dir + "/journal") &&
      !orva_store::readWholeFile(dir + "/journal", out.journalBytes)) {
    return false;
  }
  const std::string& base = out.baseBytes;
  const std::size_t headerEnd = base.find('\n');
  if (base.compare(0, 3,
                   "\x1e"
                   "B ") != 0 ||
      headerEnd == std::string::npos)
    return false;
  const std::string header = base.substr(3, headerEnd - 3);
  out.startMs = std::atoll(header.c_str());
  out.trimmed = header.size() > 2 && header.compare(header.size() - 2, 2, " 1") == 0;
  out.exists = true;
  parseAll(out.baseBytes, headerEnd + 1, out.records);
  out.baseCount = out.records.size();
  parseAll(out.journalBytes, 0, out.records);
  return true;
}

std::map<std::string, const Record*> latestRecords(const History& history, std::int64_t untilMs) {
  std::map<std::string, const Record*> latest;
  for (std::size_t i = 0; i < history.records.size(); ++i) {
    const Record& record = history.records[i];
    // Base records stand for the start whatever time they carry.
    if (untilMs >= 0 && i >= history.baseCount && record.timeMs > untilMs) break;
    latest[std::string(record.name)] = &record;
  }
  return latest;
}

}  // namespace orva_history
