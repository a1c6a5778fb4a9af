// The answer of list_cards over 10,000 cards written as the host's one-line
// envelope: by the host's writer (RapidJSON's, spelling as jsoncpp does), by
// jsoncpp's writers and by RapidJSON and nlohmann-json alone (RapidJSON
// walking the same tree, nlohmann-json after a copy into its own tree).
// "same_bytes" says whether a writer gives exactly the host's bytes for the
// listing, "odd_same_bytes" for a control byte, a fraction and a byte that
// is no UTF-8. CPU time is the whole process's: the host's writer spreads a
// long array over every core.
#include <benchmark/benchmark.h>
#include <json/json.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "appliance/host/api/host_codes.cpp"
#include "appliance/host/api/json_text.cpp"
#include "bench/bench_cards.h"
#include "module/webapi-ContactAndCalendar.h"
#include "platform/webapi.h"

namespace {

constexpr char kHead[] = "{\"success\":true,\"data\":";

// {"success":true,"data":{"cards":[...],...}} as the host gets it.
const Json::Value& listing() {
  static const Json::Value envelope = [] {
    static orva_bench::BenchRoot root;
    Json::Value params;
    params["user"] = "bench";
    ORVA::APIRequest request(params);
    ORVA::APIResponse response;
    {
      ContactAndCalendarHandler handler(&request, &response, "bench");
      handler.listCards();
    }
    Json::Value made(Json::objectValue);
    made["success"] = true;
    made["data"] = response.Data();
    return made;
  }();
  return envelope;
}

const std::string& ownText() {
  static const std::string text = orva_host::envelopeJson(listing());
  return text;
}

// What the host also answers now and then: a control byte, a number that is
// not whole, a byte that is no UTF-8 (texts pass through as bytes).
const Json::Value& oddData() {
  static const Json::Value data = [] {
    Json::Value made(Json::objectValue);
    made["text"] = "tab\t unit\x1f del\x7f \xc3\xa9 \xff";
    made["number"] = 0.1;
    return made;
  }();
  return data;
}

Json::Value envelopeOf(const Json::Value& data) {
  Json::Value envelope(Json::objectValue);
  envelope["success"] = true;
  envelope["data"] = data;
  return envelope;
}

// same_bytes: the listing as the host writes it; odd_same_bytes: oddData too.
void report(benchmark::State& state, const std::string& text, const std::string& odd) {
  state.counters["cards"] = static_cast<double>(listing()["data"]["cards"].size());
  state.counters["same_bytes"] = text == ownText() ? 1 : 0;
  state.counters["odd_same_bytes"] = odd == orva_host::envelopeJson(envelopeOf(oddData())) ? 1 : 0;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_HostWriter(benchmark::State& state) {
  std::string text;
  for (auto _ : state) {
    text = orva_host::envelopeJson(listing());
    benchmark::DoNotOptimize(text.data());
  }
  report(state, text, orva_host::envelopeJson(envelopeOf(oddData())));
}
BENCHMARK(BM_HostWriter)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// The same, as `call` writes it: in pieces to a file.
void BM_HostWriterToFile(benchmark::State& state) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) orva_host::writeEnvelopeLine(sink, listing());
  std::fclose(sink);
  report(state, ownText(), orva_host::envelopeJson(envelopeOf(oddData())));
}
BENCHMARK(BM_HostWriterToFile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

std::unique_ptr<Json::StreamWriter> jsoncppWriter() {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  builder["commentStyle"] = "None";
  return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
}

std::string jsoncppText(Json::StreamWriter& writer, const Json::Value& data) {
  std::ostringstream out;
  out << kHead;
  writer.write(data, &out);
  out << '}';
  return out.str();
}

void BM_JsoncppStreamWriter(benchmark::State& state) {
  const std::unique_ptr<Json::StreamWriter> writer = jsoncppWriter();
  std::string text;
  for (auto _ : state) {
    text = jsoncppText(*writer, listing()["data"]);
    benchmark::DoNotOptimize(text.data());
  }
  report(state, text, jsoncppText(*writer, oddData()));
}
BENCHMARK(BM_JsoncppStreamWriter)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_JsoncppStreamWriterToFile(benchmark::State& state) {
  const std::unique_ptr<Json::StreamWriter> writer = jsoncppWriter();
  std::ofstream sink("/dev/null");
  for (auto _ : state) {
    sink << kHead;
    writer->write(listing()["data"], &sink);
    sink << "}\n";
    sink.flush();
  }
  report(state, jsoncppText(*writer, listing()["data"]), jsoncppText(*writer, oddData()));
}
BENCHMARK(BM_JsoncppStreamWriterToFile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// FastWriter has no emitUTF8: it writes every non-ASCII letter as \u
// escapes, so its bytes differ wherever a card holds one.
void BM_JsoncppFastWriter(benchmark::State& state) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  Json::FastWriter writer;
  writer.omitEndingLineFeed();
#pragma GCC diagnostic pop
  std::string text;
  for (auto _ : state) {
    text = kHead + writer.write(listing()["data"]) + "}";
    benchmark::DoNotOptimize(text.data());
  }
  report(state, text, kHead + writer.write(oddData()) + "}");
}
BENCHMARK(BM_JsoncppFastWriter)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// RapidJSON's writer fed from the jsoncpp tree: no copy of the tree.
template <typename Writer>
void walk(Writer& writer, const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      writer.Null();
      return;
    case Json::booleanValue:
      writer.Bool(value.asBool());
      return;
    case Json::intValue:
      writer.Int64(value.asInt64());
      return;
    case Json::uintValue:
      writer.Uint64(value.asUInt64());
      return;
    case Json::realValue:
      writer.Double(value.asDouble());
      return;
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      if (!value.getString(&begin, &end)) begin = end = "";
      writer.String(begin, static_cast<rapidjson::SizeType>(end - begin));
      return;
    }
    case Json::arrayValue:
      writer.StartArray();
      for (const Json::Value& element : value) walk(writer, element);
      writer.EndArray();
      return;
    case Json::objectValue:
      writer.StartObject();
      for (auto it = value.begin(); it != value.end(); ++it) {
        const char* end = nullptr;
        const char* name = it.memberName(&end);
        writer.Key(name, static_cast<rapidjson::SizeType>(end - name));
        walk(writer, *it);
      }
      writer.EndObject();
      return;
  }
}

std::string rapidJsonText(const Json::Value& data) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  walk(writer, data);
  return std::string(kHead).append(buffer.GetString(), buffer.GetSize()).append("}");
}

void BM_RapidJsonWriter(benchmark::State& state) {
  std::string text;
  for (auto _ : state) {
    text = rapidJsonText(listing()["data"]);
    benchmark::DoNotOptimize(text.data());
  }
  report(state, text, rapidJsonText(oddData()));
}
BENCHMARK(BM_RapidJsonWriter)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The same with the cards split over every core as the host's writer does
// (each worker writes a run of cards; the runs are joined in order).
void BM_RapidJsonWriterOnEveryCore(benchmark::State& state) {
  const Json::Value& data = listing()["data"];
  std::vector<const Json::Value*> cards;
  for (const Json::Value& card : data["cards"]) cards.push_back(&card);
  const std::size_t workers = std::max(1U, std::thread::hardware_concurrency());
  std::string text;
  for (auto _ : state) {
    std::vector<std::string> runs(workers);
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < workers; ++w) {
      threads.emplace_back([&, w] {
        rapidjson::StringBuffer buffer;
        const std::size_t first = cards.size() * w / workers;
        const std::size_t last = cards.size() * (w + 1) / workers;
        for (std::size_t i = first; i < last; ++i) {
          if (i > 0) buffer.Put(',');
          rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
          walk(writer, *cards[i]);
        }
        runs[w].assign(buffer.GetString(), buffer.GetSize());
      });
    }
    for (std::thread& thread : threads) thread.join();
    // The members beside "cards" ("total" and the like).
    rapidjson::StringBuffer others;
    for (auto it = data.begin(); it != data.end(); ++it) {
      if (it.name() == "cards") continue;
      others.Put(',');
      rapidjson::Writer<rapidjson::StringBuffer> name(others);
      name.String(it.name().c_str());
      others.Put(':');
      rapidjson::Writer<rapidjson::StringBuffer> value(others);
      walk(value, *it);
    }
    text.assign(kHead).append("{\"cards\":[");
    for (const std::string& run : runs) text.append(run);
    text.push_back(']');
    if (others.GetSize() > 2)
      text.append(",").append(others.GetString() + 1, others.GetSize() - 1);
    else
      text.push_back('}');
    text.push_back('}');
    benchmark::DoNotOptimize(text.data());
  }
  report(state, text, rapidJsonText(oddData()));
}
BENCHMARK(BM_RapidJsonWriterOnEveryCore)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

nlohmann::json copied(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      return nullptr;
    case Json::booleanValue:
      return value.asBool();
    case Json::intValue:
      return value.asInt64();
    case Json::uintValue:
      return value.asUInt64();
    case Json::realValue:
      return value.asDouble();
    case Json::stringValue:
      return value.asString();
    case Json::arrayValue: {
      nlohmann::json array = nlohmann::json::array();
      for (const Json::Value& element : value) array.push_back(copied(element));
      return array;
    }
    case Json::objectValue: {
      nlohmann::json object = nlohmann::json::object();
      for (auto it = value.begin(); it != value.end(); ++it) object[it.name()] = copied(*it);
      return object;
    }
  }
  return nullptr;
}

// Its dump refuses a text that is no UTF-8 (the host passes such bytes on).
std::string nlohmannText(const Json::Value& data) {
  try {
    return kHead + copied(data).dump() + "}";
  } catch (const nlohmann::json::exception& refused) {
    return refused.what();
  }
}

// The copy into its tree is part of its cost: the module answers jsoncpp.
void BM_NlohmannJsonCopyAndDump(benchmark::State& state) {
  std::string text;
  for (auto _ : state) {
    text = kHead + copied(listing()["data"]).dump() + "}";
    benchmark::DoNotOptimize(text.data());
  }
  report(state, text, nlohmannText(oddData()));
}
BENCHMARK(BM_NlohmannJsonCopyAndDump)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_NlohmannJsonDumpOnly(benchmark::State& state) {
  const nlohmann::json tree = copied(listing()["data"]);
  std::string text;
  for (auto _ : state) {
    text = kHead + tree.dump() + "}";
    benchmark::DoNotOptimize(text.data());
  }
  report(state, text, nlohmannText(oddData()));
}
BENCHMARK(BM_NlohmannJsonDumpOnly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace

// The store and its listing are made before any timing starts.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ownText();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
