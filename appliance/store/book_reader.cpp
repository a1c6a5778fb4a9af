#include "appliance/store/book_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "appliance/store/store_layout.h"

namespace orva_store {

namespace {

// Below this many cards a second thread costs more than it saves.
constexpr std::size_t kCardsPerWorker = 256;
// Workers take files in runs of this many.
constexpr std::size_t kCardsPerRun = 64;

// The card files of the book folder, in no order.
std::vector<std::string> unsortedCardNames(int dirFd) {
  std::vector<std::string> names;
  const int listFd = ::dup(dirFd);
  if (listFd < 0) return names;
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return names;
  }
  names.reserve(1024);
  while (const dirent* entry = ::readdir(dir)) {
    std::string name(entry->d_name);
    if (!isSafeName(name)) continue;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        continue;
      }
    } else if (entry->d_type != DT_REG) {
      continue;
    }
    names.push_back(std::move(name));
  }
  ::closedir(dir);
  return names;
}

std::vector<std::string> cardNames(int dirFd) {
  std::vector<std::string> names = unsortedCardNames(dirFd);
  std::sort(names.begin(), names.end());
  return names;
}

// Reads the open file whole into buffer (grown as needed); its length, or -1.
ssize_t readAll(int fd, std::vector<char>& buffer) {
  size_t length = 0;
  for (;;) {
    if (length == buffer.size()) buffer.resize(buffer.size() * 2);
    const ssize_t n = ::read(fd, buffer.data() + length, buffer.size() - length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    length += static_cast<size_t>(n);
    // A short read of a regular file means its end: one read per card.
    if (length < buffer.size()) break;
  }
  return static_cast<ssize_t>(length);
}

// The cards of one book, read on several threads into slots in name order.
// Each slot is written by the one worker that took its run.
struct BookRead {
  const int dirFd;
  const std::vector<std::string>& names;
  std::vector<Json::Value> texts;
  std::vector<char> read;
  std::atomic<std::size_t> nextRun{0};
  std::atomic<bool> failed{false};

  BookRead(int dir, const std::vector<std::string>& cardNames)
      : dirFd(dir), names(cardNames), texts(cardNames.size()), read(cardNames.size(), 0) {}

  void work() {
    try {
      std::vector<char> buffer(64 * 1024);
      for (;;) {
        const std::size_t first = nextRun.fetch_add(kCardsPerRun);
        if (first >= names.size()) break;
        const std::size_t last = std::min(names.size(), first + kCardsPerRun);
        for (std::size_t i = first; i < last; ++i) {
          const int fd = ::openat(dirFd, names[i].c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
          if (fd < 0) continue;
          const ssize_t length = readAll(fd, buffer);
          ::close(fd);
          if (length < 0) continue;
          texts[i] = Json::Value(buffer.data(), buffer.data() + length);
          read[i] = 1;
        }
      }
    } catch (...) {
      failed = true;
      nextRun = names.size();
    }
  }
};

}  // namespace

namespace {

// Reads the named cards of the open book folder and appends those read.
int readNamed(int dirFd, const std::vector<std::string>& names, Json::Value& ids,
              Json::Value& texts) {
  // Opening and reading many small files is the work here, and it spreads
  // over every core; a small book is read on the calling thread alone.
  BookRead book(dirFd, names);
  const std::size_t cores = std::max(1U, std::thread::hardware_concurrency());
  const std::size_t workers = std::min<std::size_t>(cores, 1 + names.size() / kCardsPerWorker);
  std::vector<std::thread> helpers;
  // Room first: once a thread runs, nothing here may throw before the joins.
  helpers.reserve(workers);
  for (std::size_t w = 1; w < workers; ++w) {
    try {
      helpers.emplace_back(&BookRead::work, &book);
    } catch (const std::system_error&) {
      break;  // fewer hands do the same work
    }
  }
  book.work();
  for (std::thread& helper : helpers) helper.join();
  if (book.failed) throw std::bad_alloc();

  int count = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!book.read[i]) continue;
    ids.append(Json::Value(names[i]));
    texts.append(std::move(book.texts[i]));
    ++count;
  }
  return count;
}

struct OpenDir {
  int fd;
  explicit OpenDir(const std::string& dir)
      : fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~OpenDir() {
    if (fd >= 0) ::close(fd);
  }
  OpenDir(const OpenDir&) = delete;
  OpenDir& operator=(const OpenDir&) = delete;
};

}  // namespace

int readBook(const std::string& dir, Json::Value& ids, Json::Value& texts) {
  const OpenDir book(dir);
  if (book.fd < 0) return 0;
  return readNamed(book.fd, cardNames(book.fd), ids, texts);
}

int readBookWindow(const std::string& dir, std::size_t offset, std::size_t limit, Json::Value& ids,
                   Json::Value& texts, BookNames* known) {
  const OpenDir book(dir);
  if (book.fd < 0) return 0;
  struct stat folder {};
  const bool stamped = ::fstat(book.fd, &folder) == 0;
  // A book walked window after window (a search) keeps its names in order
  // while its folder does not change, so the folder is listed once.
  if (known != nullptr && stamped && known->sorted && known->dir == dir &&
      known->changed.tv_sec == folder.st_mtim.tv_sec &&
      known->changed.tv_nsec == folder.st_mtim.tv_nsec) {
    const std::size_t first = std::min(offset, known->names.size());
    const std::size_t last = first + std::min(limit, known->names.size() - first);
    const std::vector<std::string> window(known->names.begin() + static_cast<std::ptrdiff_t>(first),
                                          known->names.begin() + static_cast<std::ptrdiff_t>(last));
    readNamed(book.fd, window, ids, texts);
    return static_cast<int>(known->names.size());
  }
  std::vector<std::string> names = unsortedCardNames(book.fd);
  const int total = static_cast<int>(names.size());
  if (known != nullptr && stamped && known->dir == dir) {
    // The second window of one book: worth putting all of it in order.
    std::sort(names.begin(), names.end());
    known->names = std::move(names);
    known->changed = folder.st_mtim;
    known->sorted = true;
    return readBookWindow(dir, offset, limit, ids, texts, known);
  }
  if (known != nullptr) {
    known->dir = dir;
    known->sorted = false;
  }
  const std::size_t first = std::min(offset, names.size());
  const std::size_t last = first + std::min(limit, names.size() - first);
  // Only the window is put in order: the names before it and after it are
  // partitioned off, not sorted (a window of a large book costs a pass).
  const auto at = [&names](std::size_t i) {
    return names.begin() + static_cast<std::ptrdiff_t>(i);
  };
  if (first > 0 && first < names.size()) std::nth_element(at(0), at(first), names.end());
  if (last > first && last < names.size()) std::nth_element(at(first), at(last), names.end());
  std::sort(at(first), at(last));
  names.erase(at(last), names.end());
  names.erase(at(0), at(first));
  readNamed(book.fd, names, ids, texts);
  return total;
}

}  // namespace orva_store
