// The contact store's hot path: listing a large address book.
#include <benchmark/benchmark.h>
#include <json/value.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/contact_store.h"

namespace {

// A temporary appliance root holding one user with `count` cards of 300 to
// 1,500 bytes.
class FilledStore {
 public:
  explicit FilledStore(int count) {
    std::string pattern = (std::filesystem::temp_directory_path() / "orva-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    ::setenv("ORVA_ROOT", root_.c_str(), 1);
    DBHandler store;
    store.SetupUserBasicInfo("bench");
    guid_ = store.GetGUID("bench");
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noteLength(200, 1400);
    for (int i = 0; i < count; ++i) {
      const std::string name = store.GetUUID();
      const std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + name +
                               "\r\nFN:Person\r\nNOTE:" + std::string(noteLength(random), 'n') +
                               "\r\nEND:VCARD\r\n";
      if (!store.AddCard(guid_, name, text)) std::abort();
    }
  }
  ~FilledStore() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    ::unsetenv("ORVA_ROOT");
  }
  const std::string& guid() const { return guid_; }

 private:
  std::string root_;
  std::string guid_;
};

void BM_GetCards(benchmark::State& state) {
  FilledStore filled(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    DBHandler store;
    Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
    const int n = store.GetCards(ids, texts, filled.guid());
    if (n != state.range(0)) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(texts);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GetCards)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
