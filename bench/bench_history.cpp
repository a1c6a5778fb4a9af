// Figures of the books' histories (prints them; no assertion): the time one
// change takes with and without keeping in a book of 10,000 cards, through
// the page (the store) and through a client (the server's hook), an import
// of 10,000 cards with and without keeping, and the history's size after a
// simulated month of 1 % of the cards changed a day.
//   bench_history [CARDS]
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "appliance/base/atomic_batch.h"
#include "appliance/history/folder_changes.h"
#include "appliance/store/card_check.h"
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

std::string card(const std::string& uid, int day, std::mt19937& random) {
  std::uniform_int_distribution<int> note(100, 400);
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Person " + uid + "\r\nN:" + uid +
         ";Person;;;\r\nEMAIL;TYPE=INTERNET:" + uid +
         "@example.com\r\nTEL;TYPE=CELL:+41 79 555 00 00\r\nNOTE:day " + std::to_string(day) + " " +
         std::string(note(random), 'n') + "\r\nEND:VCARD\r\n";
}

std::uintmax_t folderBytes(const std::string& folder) {
  std::uintmax_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) total += entry.file_size();
  }
  return total;
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

// The store's write of one card as it was before keeping: the gate, the
// lock, the atomic write and its folder sync.
void plainUpdate(const std::string& book, const std::string& name, const std::string& text) {
  if (!orva_store::cardTextRefusal(text).empty()) std::abort();
  orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
  orva_store::FolderSync sync;
  if (!orva_store::writeFileAtomic(book, name, text, sync) || !sync.flush()) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  const int cards = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int changes = 200;
  std::mt19937 random(7);
  Root root;
  DBHandler setup;
  setup.SetupUserBasicInfo("bench");
  const std::string guid = setup.GetGUID("bench");
  const std::string book = orva_store::bookDir("bench");
  std::vector<std::pair<std::string, std::string>> batch;
  for (int i = 0; i < cards; ++i) {
    const std::string name = "card-" + std::to_string(i);
    batch.emplace_back(name, card(name, 0, random));
  }

  // Import, without keeping (the batch as the store wrote it before) and with.
  auto start = Clock::now();
  {
    orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
    orva_file::AtomicBatch plain(orva_store::bookDir("bench"), 0600);
    for (const auto& [name, text] : batch) {
      if (!orva_store::cardTextRefusal(text).empty() || !plain.add("plain-" + name, text))
        std::abort();
    }
    if (plain.commit() != batch.size()) std::abort();
  }
  const double importPlain = msSince(start);
  for (const auto& [name, text] : batch) fs::remove(book + "/plain-" + name);
  start = Clock::now();
  {
    DBHandler store;
    store.SetChangeMaker("import of bench.vcf");
    std::vector<DBHandler::CardFault> faults;
    store.AddCards(guid, batch, faults);
  }
  const double importKept = msSince(start);
  std::printf("import of %d cards: %.0f ms without keeping, %.0f ms with (%+.1f %%)\n", cards,
              importPlain, importKept, 100.0 * (importKept - importPlain) / importPlain);

  // One change by the page, without keeping and with.
  std::uniform_int_distribution<int> pick(0, cards - 1);
  start = Clock::now();
  for (int i = 0; i < changes; ++i) {
    const std::string name = "card-" + std::to_string(pick(random));
    plainUpdate(book, name, card(name, 1, random));
  }
  const double pagePlain = msSince(start) / changes;
  // The hook sees the plain writes as a client's: kept once, before measuring.
  orva_history::keepFolderChanges("bench", "bench");
  start = Clock::now();
  for (int i = 0; i < changes; ++i) {
    DBHandler store;
    const std::string name = "card-" + std::to_string(pick(random));
    if (!store.UpdateCard(guid, name, card(name, 1, random))) std::abort();
  }
  const double pageKept = msSince(start) / changes;
  std::printf(
      "one change by the page (%d cards): %.2f ms without keeping, %.2f ms with (%+.2f ms)\n",
      cards, pagePlain, pageKept, pageKept - pagePlain);

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

  // A month: 1 % of the cards changed a day by the page, for 30 days.
  for (int day = 3; day < 33; ++day) {
    for (int i = 0; i < cards / 100; ++i) {
      DBHandler store;
      const std::string name = "card-" + std::to_string(pick(random));
      if (!store.UpdateCard(guid, name, card(name, day, random))) std::abort();
    }
  }
  const std::uintmax_t bookBytes = folderBytes(book);
  const std::uintmax_t historyBytes =
      folderBytes(orva_store::storeBaseDir() + "/history/bench/contacts");
  std::printf(
      "after a month of 1 %% a day: book %.2f MB of cards, history %.2f MB (%.0f %% of "
      "the book)\n",
      bookBytes / 1e6, historyBytes / 1e6, 100.0 * historyBytes / bookBytes);
  return 0;
}
