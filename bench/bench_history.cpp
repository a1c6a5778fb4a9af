// Figures of the books' histories (prints them; no assertion): the time one
// change takes in a book of 10,000 cards and the keeping's part of it,
// through the page (the store) and through a client (the server's hook), the
// same for an import of 10,000 cards, and the history's size after a
// simulated month of 1 % of the cards changed a day. The keeping's part is
// timed on its own, with the same records, appends and syncs.
//   bench_history [CARDS]
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "appliance/history/folder_changes.h"
#include "appliance/history/history_prune.h"
#include "appliance/history/history_record.h"
#include "appliance/history/kept_write.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"
#include "appliance/store/store_lock.h"
#include "platform/contact_store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A card of about 300 to 600 bytes; its note is random letters, which do
// not compress the way real cards do.
std::string card(const std::string& uid, int day, std::mt19937& random) {
  std::uniform_int_distribution<int> note(100, 400), letter('a', 'z');
  std::string words(static_cast<std::size_t>(note(random)), ' ');
  for (char& c : words) c = random() % 6 == 0 ? ' ' : static_cast<char>(letter(random));
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Person " + uid + "\r\nN:" + uid +
         ";Person;;;\r\nEMAIL;TYPE=INTERNET:" + uid +
         "@example.com\r\nTEL;TYPE=CELL:+41 79 555 00 00\r\nNOTE:day " + std::to_string(day) + " " +
         words + "\r\nEND:VCARD\r\n";
}

// The bytes of the folder's files, and the bytes they take on the disk.
std::pair<double, double> folderMb(const std::string& folder) {
  double bytes = 0, used = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat st {};
    if (!entry.is_regular_file() || ::stat(entry.path().c_str(), &st) != 0) continue;
    bytes += static_cast<double>(st.st_size);
    used += static_cast<double>(st.st_blocks) * 512;
  }
  return {bytes / 1e6, used / 1e6};
}

struct Root {
  std::string path;
  Root() {
    std::string pattern = (fs::temp_directory_path() / "orva-history-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
    ::setenv("ORVA_ROOT", path.c_str(), 1);
  }
  ~Root() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

// A client's write as the server makes it: the file, atomically.
void plainUpdate(const std::string& book, const std::string& name, const std::string& text) {
  orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
  orva_store::FolderSync sync;
  if (!orva_store::writeFileAtomic(book, name, text, sync) || !sync.flush()) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  const int cards = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int changes = 100;
  std::mt19937 random(7);
  Root root;
  // No warm-up of the server's cache after the import: it would run beside
  // the figures.
  ::setenv("ORVA_SERVER_PROCESSES", "off", 1);
  DBHandler setup;
  setup.SetupUserBasicInfo("bench");
  const std::string guid = setup.GetGUID("bench");
  const std::string book = orva_store::bookDir("bench");
  std::vector<std::pair<std::string, std::string>> batch;
  for (int i = 0; i < cards; ++i) {
    const std::string name = "card-" + std::to_string(i);
    batch.emplace_back(name, card(name, 0, random));
  }

  // The keeping's own part of each write, timed alone on a collection of its
  // own: the same records, the same journal appends and syncs.
  const auto keepingAlone = [&](const std::vector<std::pair<std::string, std::string>>& cards) {
    const auto began = Clock::now();
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    orva_history::KeptWrite kept("scratch", "contacts", "bench", "bench");
    for (const auto& [name, text] : cards) kept.put(name, text);
    orva_file::FolderSync sync;
    if (!kept.keep(sync)) std::abort();
    kept.seal();
    return msSince(began);
  };

  // Import: the store's batch with keeping, and the keeping's part of it.
  auto start = Clock::now();
  {
    DBHandler store;
    store.SetChangeMaker("import of bench.vcf");
    std::vector<DBHandler::CardFault> faults;
    store.AddCards(guid, batch, faults);
  }
  const double importKept = msSince(start);
  const double importKeeping = keepingAlone(batch);
  std::printf(
      "import of %d cards: %.0f ms with keeping, of which keeping %.0f ms: %+.1f %% over "
      "%.0f ms without\n",
      cards, importKept, importKeeping, 100.0 * importKeeping / (importKept - importKeeping),
      importKept - importKeeping);

  // One change by the page: the store's write with keeping, and the keeping's part.
  std::uniform_int_distribution<int> pick(0, cards - 1);
  double pageKept = 0, pageKeeping = 0;
  for (int i = 0; i < changes; ++i) {
    const std::string name = "card-" + std::to_string(pick(random));
    const std::string text = card(name, 1, random);
    start = Clock::now();
    {
      DBHandler store;
      if (!store.UpdateCard(guid, name, text)) std::abort();
    }
    pageKept += msSince(start);
    pageKeeping += keepingAlone({{name, text}});
  }
  pageKept /= changes;
  pageKeeping /= changes;
  std::printf(
      "one change by the page (%d cards): %.2f ms with keeping, of which keeping %.2f ms "
      "(%.2f ms without)\n",
      cards, pageKept, pageKeeping, pageKept - pageKeeping);

  // One change by a client: the server's write, then the hook's run.
  double hookTotal = 0;
  for (int i = 0; i < changes / 4; ++i) {
    const std::string name = "card-" + std::to_string(pick(random));
    plainUpdate(book, name, card(name, 2, random));
    start = Clock::now();
    if (!orva_history::keepFolderChanges("bench", "bench")) std::abort();
    hookTotal += msSince(start);
  }
  std::printf("one change by a client (%d cards): the hook adds %.2f ms\n", cards,
              hookTotal / (changes / 4));

  // A month: 1 % of the cards changed a day by the page, for 30 days, after
  // what came before was pruned as older than the period.
  {
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    orva_history::Settings settings;
    if (!orva_history::pruneCollection("bench", "contacts", settings,
                                       orva_history::nowMs() + 31 * 86400000LL)) {
      std::abort();
    }
  }
  for (int day = 3; day < 33; ++day) {
    for (int i = 0; i < cards / 100; ++i) {
      DBHandler store;
      const std::string name = "card-" + std::to_string(pick(random));
      if (!store.UpdateCard(guid, name, card(name, day, random))) std::abort();
    }
  }
  const auto bookMb = folderMb(book);
  const auto historyMb = folderMb(orva_store::storeBaseDir() + "/history/bench/contacts");
  std::printf(
      "after a month of 1 %% a day: the book %.2f MB (%.2f MB on the disk), its history "
      "%.2f MB (%.2f MB on the disk): %.0f %% of the book (%.0f %% on the disk)\n",
      bookMb.first, bookMb.second, historyMb.first, historyMb.second,
      100 * historyMb.first / bookMb.first, 100 * historyMb.second / bookMb.second);
  return 0;
}
