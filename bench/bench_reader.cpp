// The vCard reader over 10,000 realistic cards, and list_cards end to end
// over a store holding them: through the handler, and as the host program
// runs it (module loaded with dlopen, answer written to /dev/null).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "appliance/host/api/dispatch.cpp"
#include "appliance/host/api/host_codes.cpp"
#include "appliance/host/api/json_text.cpp"
#include "appliance/host/api/module_loader.cpp"
#include "bench/bench_cards.h"
#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "platform/webapi.h"
#include "vcard/card_reader.h"

namespace {

using orva_bench::BenchRoot;
using orva_bench::cards;
using orva_bench::kCards;

void BM_Reader(benchmark::State& state) {
  const bool photos = state.range(0) != 0;
  std::vector<const std::string*> chosen;
  std::int64_t bytes = 0;
  std::size_t smallest = SIZE_MAX;
  std::size_t largest = 0;
  for (const std::string& text : cards()) {
    if (!photos && text.find("PHOTO;") != std::string::npos) continue;
    chosen.push_back(&text);
    bytes += static_cast<std::int64_t>(text.size());
    smallest = std::min(smallest, text.size());
    largest = std::max(largest, text.size());
  }
  Json::Value labelTable;
  Json::Value record;
  for (auto _ : state) {
    for (const std::string* text : chosen) {
      labelTable.clear();
      orva_vcard::readLabels(*text, labelTable);
      orva_vcard::readCardText(*text, labelTable, record);
      benchmark::DoNotOptimize(record);
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["cards"] = static_cast<double>(chosen.size());
  state.counters["avg_bytes"] = static_cast<double>(bytes) / static_cast<double>(chosen.size());
  state.counters["min_bytes"] = static_cast<double>(smallest);
  state.counters["max_bytes"] = static_cast<double>(largest);
  state.counters["us_per_card"] = benchmark::Counter(
      static_cast<double>(chosen.size()) * 1e-6,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Reader)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The reader as list_cards runs it: every card into a record of its own,
// all kept; making the empty records and releasing the full ones is not
// timed (BM_Reader times releasing the previous card's record as well).
void BM_ReaderNewRecords(benchmark::State& state) {
  std::int64_t bytes = 0;
  for (const std::string& text : cards()) bytes += static_cast<std::int64_t>(text.size());
  Json::Value labelTable;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Json::Value> records(cards().size());
    state.ResumeTiming();
    for (std::size_t i = 0; i < records.size(); ++i) {
      labelTable.clear();
      orva_vcard::readLabels(cards()[i], labelTable);
      orva_vcard::readCardText(cards()[i], labelTable, records[i]);
    }
    benchmark::DoNotOptimize(records.data());
    state.PauseTiming();
    records = std::vector<Json::Value>();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ReaderNewRecords)->Unit(benchmark::kMillisecond);

void BM_ListCards(benchmark::State& state) {
  static BenchRoot root;
  if (root.stored() != kCards) {
    state.SkipWithError("the store did not take every card");
    return;
  }
  Json::Value params;
  params["user"] = "bench";
  if (state.range(0) != 0) params["search_key"] = "SMI";
  std::size_t answered = 0;
  for (auto _ : state) {
    ORVA::APIRequest request(params);
    ORVA::APIResponse response;
    {
      ContactAndCalendarHandler handler(&request, &response, "bench");
      handler.listCards();
    }
    answered = response.Data()["cards"].size();
  }
  state.counters["cards_answered"] = static_cast<double>(answered);
}
BENCHMARK(BM_ListCards)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// list_cards as `orva-webapi call` runs it: the module loaded with dlopen,
// the answer written out (to /dev/null). Each round also releases its
// answer, which the host program leaves to its exit.
void BM_HostCall(benchmark::State& state) {
  static BenchRoot root;
  orva_host::LoadedModule module;
  std::string error;
  if (!module.load(ORVA_BIN_DIR "/ORVA.ContactAndCalendar.so", error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::FILE* sink = std::fopen("/dev/null", "w");
  Json::Value params;
  params["user"] = "bench";
  if (state.range(0) != 0) params["search_key"] = "SMI";
  for (auto _ : state) {
    orva_host::DispatchResult result = orva_host::dispatchRequest(
        module, "ORVA.ContactAndCalendar.Contacts", 1, "list_cards", params);
    orva_host::writeEnvelopeLine(sink, result.envelope);
  }
  std::fclose(sink);
}
BENCHMARK(BM_HostCall)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The store's share of list_cards: fetching the texts alone.
void BM_StoreGetCards(benchmark::State& state) {
  static BenchRoot root;
  for (auto _ : state) {
    DBHandler db;
    Json::Value ids(Json::arrayValue);
    Json::Value texts(Json::arrayValue);
    benchmark::DoNotOptimize(db.GetCards(ids, texts, db.GetGUID("bench")));
  }
}
BENCHMARK(BM_StoreGetCards)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
