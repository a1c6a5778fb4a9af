// import_cards into the real contact store: cards per second for a generated
// file, and the process's peak memory after 1,000 and after 100,000 cards.
// The file is streamed, so the peak must not grow with the number of cards.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "contacts/vcard_file_reader.h"
#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "vcard/card_identity.h"

namespace {

long peakRssKb() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A root of its own, so the store starts empty for every run.
std::string freshRoot() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orva-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  ::setenv("ORVA_ROOT", pattern.c_str(), 1);
  return pattern;
}

// Written card by card, so the generator itself holds no more than one card.
void writeCards(const std::string& path, int count) {
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    out << "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Bench//EN\r\nUID:src-" << n << "\r\nN:Family"
        << n << ";Given;;;\r\nFN:Given Family" << n << "\r\nORG:Example Corp\r\nTITLE:Engineer\r\n"
        << "EMAIL;type=INTERNET;type=WORK:given" << n << "@example.org\r\n"
        << "TEL;type=CELL:+1 555 " << n << "\r\n"
        << "ADR;type=HOME:;;" << n << " Main Street;Springfield;;12345;USA\r\n"
        << "NOTE:A note long enough to be folded by the exporter at seventy-five oc\r\n"
        << " tets\\, as real exporters do.\r\nREV:2024-01-01T00:00:00Z\r\nEND:VCARD\r\n";
  }
}

// The same people as a desktop mail client exports them: vCard 2.1 with bare
// parameters, Windows-1252 bytes and quoted-printable notes and addresses.
void writeCards21(const std::string& path, int count) {
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    out << "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=Windows-1252:M\xfcller" << n
        << ";J\xfcrgen\r\nFN;CHARSET=Windows-1252:J\xfcrgen M\xfcller" << n
        << "\r\nORG:Example Corp, Inc.\r\nTITLE:Engineer\r\n"
        << "EMAIL;PREF;INTERNET:given" << n << "@example.org\r\n"
        << "TEL;WORK;VOICE:+1 555 " << n << "\r\n"
        << "ADR;HOME;ENCODING=QUOTED-PRINTABLE;CHARSET=Windows-1252:;;" << n
        << " Hauptstra=DFe=0D=0AHinterhaus;Springfield;;12345;USA\r\n"
        << "NOTE;ENCODING=QUOTED-PRINTABLE:A note long enough to be broken by the exporte=\r\n"
        << "r, with a second line.=0D=0ASecond line.\r\nREV:20240101T000000Z\r\nEND:VCARD\r\n";
  }
}

// The file reader and card conversion alone, without the store: what the
// import itself costs per card.
void BM_ReadCards(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool version21 = state.range(1) != 0;
  const std::string root = freshRoot();
  const std::string file = root + "/upload.vcf";
  if (version21) {
    writeCards21(file, count);
  } else {
    writeCards(file, count);
  }
  const long rssBefore = peakRssKb();
  std::size_t cards = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    int drawn = 0;
    orva_contacts::CardAssembler assembler(
        [&drawn] { return "name-" + std::to_string(++drawn); },
        [&cards, &bytes](const std::string&, const std::string& text) {
          ++cards;
          bytes += text.size();
          return true;
        });
    orva_contacts::readVCardFile(file, assembler);
  }
  const long rssAfter = peakRssKb();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  if (cards != static_cast<std::size_t>(count) * state.iterations()) {
    state.SkipWithError("not every card was read");
    return;
  }
  state.counters["cards_per_s"] =
      benchmark::Counter(static_cast<double>(cards), benchmark::Counter::kIsRate);
  state.counters["bytes_per_card"] = static_cast<double>(bytes) / static_cast<double>(cards);
  state.counters["peak_rss_kb"] = static_cast<double>(rssAfter);
  state.counters["rss_growth_kb"] = static_cast<double>(rssAfter - rssBefore);
}

// Second argument: 0 for the 3.0 file, 1 for the 2.1 file.
BENCHMARK(BM_ReadCards)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_ImportCards(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string root = freshRoot();
  const std::string file = root + "/upload.vcf";
  writeCards(file, count);
  {
    DBHandler store;
    store.SetupUserBasicInfo("bench");
  }
  Json::Value params(Json::objectValue);
  params["user"] = "bench";
  params["file_tmp"] = file;
  params["file"] = "upload.vcf";

  const long rssBefore = peakRssKb();
  bool ok = true;
  for (auto _ : state) {
    ORVA::APIRequest request(params);
    ORVA::APIResponse response;
    {
      ContactAndCalendarHandler handler(&request, &response, "bench");
      handler.importCards();
    }
    ok = ok && response.IsSuccess();
  }
  const long rssAfter = peakRssKb();

  std::size_t stored = 0;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(
           root + "/var/packages/Tessaro/var/collections/collection-root/bench", ignored)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') ++stored;
  }
  std::filesystem::remove_all(root, ignored);
  if (!ok || stored != static_cast<std::size_t>(count) * state.iterations()) {
    state.SkipWithError("not every card was stored");
    return;
  }
  state.counters["cards_per_s"] = benchmark::Counter(
      static_cast<double>(count) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["peak_rss_kb"] = static_cast<double>(rssAfter);
  state.counters["rss_growth_kb"] = static_cast<double>(rssAfter - rssBefore);
}

// What an import adds per card to know duplicates: the card's identity and
// its hash, as the import's index takes them.
void BM_CardIdentity(benchmark::State& state) {
  const std::string root = freshRoot();
  const std::string file = root + "/cards.vcf";
  writeCards(file, 1000);
  std::vector<std::string> cards;
  {
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find("END:VCARD\r\n", start) + 11;
      cards.push_back(text.substr(start, end - start));
      start = end;
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  std::size_t done = 0;
  for (auto _ : state) {
    for (const std::string& card : cards) {
      benchmark::DoNotOptimize(DBHandler::VersionOf(orva_vcard::cardIdentity(card)));
    }
    done += cards.size();
  }
  state.counters["cards_per_s"] =
      benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_CardIdentity)->Unit(benchmark::kMillisecond);

// 1,000 first: the peak after it is the baseline that 100,000 must not raise.
BENCHMARK(BM_ImportCards)
    ->Arg(1000)
    ->Arg(100000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
