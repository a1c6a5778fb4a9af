#include "appliance/host/api/json_text.h"

#include <json/json.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "appliance/base/utf8_text.h"

namespace orva_host {

bool parseStrictJson(const std::string& text, Json::Value& value, std::string& error) {
  Json::CharReaderBuilder builder;
  // strictMode() would also demand an array or object at the top; a parameter
  // may be a bare number, string, boolean or null.
  builder["allowComments"] = false;
  builder["allowTrailingCommas"] = false;
  builder["strictRoot"] = false;
  builder["allowDroppedNullPlaceholders"] = false;
  builder["allowNumericKeys"] = false;
  builder["allowSingleQuotes"] = false;
  builder["failIfExtra"] = true;
  builder["rejectDupKeys"] = true;
  builder["allowSpecialFloats"] = false;
  builder["skipBom"] = false;
  builder["stackLimit"] = 256;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value parsed;
  std::string errors;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    error = "empty JSON text";
    return false;
  }
  bool parsedOk = false;
  try {
    parsedOk = reader->parse(text.data(), text.data() + text.size(), &parsed, &errors);
  } catch (const std::exception& e) {
    // jsoncpp throws, rather than fails, past its nesting limit.
    errors = e.what();
  }
  if (!parsedOk) {
    while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' ')) errors.pop_back();
    error = errors.empty() ? "not JSON" : errors;
    return false;
  }
  value = std::move(parsed);
  return true;
}

bool jsonNodesWithin(const std::string& text, size_t maxNodes) {
  size_t nodes = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{' || c == ',') {
      if (++nodes > maxNodes) return false;
    }
  }
  return true;
}

namespace {

using TextBuffer = rapidjson::StringBuffer;

// Raw text onto a stream: a buffer takes it whole, a file byte by byte
// through its own buffer.
void putText(TextBuffer& out, const char* text, std::size_t size) {
  std::memcpy(out.Push(size), text, size);
}
void putText(rapidjson::FileWriteStream& out, const char* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) out.Put(text[i]);
}
template <typename Stream>
void putText(Stream& out, const char* text) {
  putText(out, text, std::char_traits<char>::length(text));
}

// A long array (the cards of a listing) is written on every core.
constexpr Json::ArrayIndex kElementsPerWorker = 1024;
constexpr std::size_t kElementsPerRun = 128;

template <typename Stream>
void appendLongArray(Stream& out, const Json::Value& array);

// A control byte that RapidJSON writes as \u00XX, where jsoncpp writes
// \u00xx: every one below 0x20 but those with a short escape.
bool hasLongEscape(const char* begin, const char* end) {
  for (const char* p = begin; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 && c != '\b' && c != '\t' && c != '\n' && c != '\f' && c != '\r') return true;
  }
  return false;
}

// RapidJSON's compact writer with jsoncpp's spelling (emitUTF8, no
// indentation) where the two differ, so that answers keep their bytes: the
// long escapes in lower case, numbers that are not whole with jsoncpp's
// digits. Every other byte of a text passes as it is, UTF-8 or not.
// Comments are not JSON and are never written (jsoncpp's would break the
// line). With spread, long arrays are written on every core.
template <typename Stream>
class CompactWriter {
 public:
  CompactWriter(Stream& stream, bool spread) : stream_(stream), writer_(stream), spread_(spread) {}

  // One whole value; another may follow.
  void writeWhole(const Json::Value& value) {
    writer_.Reset(stream_);
    write(value);
  }

 private:
  void write(const Json::Value& value) {
    switch (value.type()) {
      case Json::nullValue:
        writer_.Null();
        return;
      case Json::booleanValue:
        writer_.Bool(value.asBool());
        return;
      case Json::intValue:
        writer_.Int64(value.asLargestInt());
        return;
      case Json::uintValue:
        writer_.Uint64(value.asLargestUInt());
        return;
      case Json::realValue: {
        const std::string number = Json::valueToString(value.asDouble());
        writer_.RawValue(number.data(), number.size(), rapidjson::kNumberType);
        return;
      }
      case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        // An empty string made from the type has no text at all.
        if (!value.getString(&begin, &end)) begin = end = "";
        text(begin, end);
        return;
      }
      case Json::arrayValue:
        if (spread_ && value.size() >= kElementsPerWorker) {
          // Marks the value's place (and its separator); the text follows.
          writer_.RawValue("", 0, rapidjson::kArrayType);
          appendLongArray(stream_, value);
        } else {
          writer_.StartArray();
          elements(value);
          writer_.EndArray();
        }
        return;
      case Json::objectValue: {
        writer_.StartObject();
        const Json::Value::const_iterator last = value.end();
        for (Json::Value::const_iterator it = value.begin(); it != last; ++it) {
          const char* end = nullptr;
          const char* name = it.memberName(&end);
          text(name, end);
          write(*it);
        }
        writer_.EndObject();
        return;
      }
    }
  }

  // In index order; an index never set (a gap) is null, as jsoncpp writes it.
  void elements(const Json::Value& array) {
    Json::ArrayIndex next = 0;
    const Json::Value::const_iterator last = array.end();
    for (Json::Value::const_iterator it = array.begin(); it != last; ++it, ++next) {
      for (; next < it.index(); ++next) writer_.Null();
      write(*it);
    }
    for (; next < array.size(); ++next) writer_.Null();
  }

  // A member name or a text value.
  void text(const char* begin, const char* end) {
    if (!hasLongEscape(begin, end)) {
      writer_.String(begin, static_cast<rapidjson::SizeType>(end - begin));
      return;
    }
    TextBuffer quoted;
    rapidjson::Writer<TextBuffer> plain(quoted);
    plain.String(begin, static_cast<rapidjson::SizeType>(end - begin));
    // Its only \u escapes are of control bytes, \u00XX: the last digit in
    // lower case. An escaped backslash is skipped whole.
    std::string spelled(quoted.GetString(), quoted.GetSize());
    for (std::size_t i = 0; i + 1 < spelled.size(); ++i) {
      if (spelled[i] != '\\') continue;
      if (spelled[i + 1] == 'u') spelled[i + 5] = static_cast<char>(std::tolower(spelled[i + 5]));
      ++i;
    }
    writer_.RawValue(spelled.data(), spelled.size(), rapidjson::kStringType);
  }

  Stream& stream_;
  rapidjson::Writer<Stream> writer_;
  const bool spread_;
};

// Workers turn runs of the array's elements into text, and each finished
// run is written out as soon as the runs before it are, so only the runs in
// flight are held as text.
template <typename Stream>
class LongArrayWriter {
 public:
  LongArrayWriter(Stream& out, const Json::Value& array) : out_(out) {
    // By index: a gap stays null.
    elements_.assign(array.size(), nullptr);
    const Json::Value::const_iterator last = array.end();
    for (Json::Value::const_iterator it = array.begin(); it != last; ++it) {
      elements_[it.index()] = &*it;
    }
    runs_ = (elements_.size() + kElementsPerRun - 1) / kElementsPerRun;
    texts_.resize(runs_);
    done_.assign(runs_, 0);
  }

  // Runs taken one after the other until none is left; called on every core.
  void work() {
    try {
      // This worker's text buffer, kept from run to run.
      TextBuffer room;
      CompactWriter<TextBuffer> piece(room, false);
      for (std::size_t run = nextRun_++; run < runs_; run = nextRun_++) {
        room.Clear();
        const std::size_t last = std::min(elements_.size(), (run + 1) * kElementsPerRun);
        for (std::size_t i = run * kElementsPerRun; i < last; ++i) {
          if (i > 0) room.Put(',');
          if (elements_[i] == nullptr) {
            putText(room, "null");
          } else {
            piece.writeWhole(*elements_[i]);
          }
        }
        finishRun(run, room.GetString(), room.GetSize());
      }
    } catch (...) {
      const std::lock_guard<std::mutex> guard(lock_);
      if (!failure_) failure_ = std::current_exception();
      nextRun_ = runs_;
    }
  }

  // After every worker has returned.
  void finish() {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  // Writes the run, and those after it that are done, once every run before
  // it is out; a run that must wait is kept as a copy.
  void finishRun(std::size_t run, const char* text, std::size_t size) {
    const std::lock_guard<std::mutex> guard(lock_);
    done_[run] = 1;
    if (run == nextToWrite_) {
      putText(out_, text, size);
      ++nextToWrite_;
    } else {
      texts_[run].assign(text, size);
    }
    for (; nextToWrite_ < runs_ && done_[nextToWrite_] != 0; ++nextToWrite_) {
      putText(out_, texts_[nextToWrite_].data(), texts_[nextToWrite_].size());
      std::string().swap(texts_[nextToWrite_]);
    }
  }

  Stream& out_;
  std::vector<const Json::Value*> elements_;
  std::size_t runs_ = 0;
  std::vector<std::string> texts_;
  std::vector<char> done_;
  std::size_t nextToWrite_ = 0;  // guarded by lock_
  std::atomic<std::size_t> nextRun_{0};
  std::mutex lock_;
  std::exception_ptr failure_;
};

template <typename Stream>
void appendLongArray(Stream& out, const Json::Value& array) {
  out.Put('[');
  LongArrayWriter<Stream> writer(out, array);
  const std::size_t workers = std::min<std::size_t>(
      std::max(1U, std::thread::hardware_concurrency()), 1 + array.size() / kElementsPerWorker);
  std::vector<std::thread> helpers;
  // Room first: once a thread runs, nothing here may throw before the joins.
  helpers.reserve(workers);
  for (std::size_t w = 1; w < workers; ++w) {
    try {
      helpers.emplace_back([&writer] { writer.work(); });
    } catch (const std::system_error&) {
      break;  // fewer hands do the same work
    }
  }
  writer.work();
  for (std::thread& helper : helpers) helper.join();
  writer.finish();
  out.Put(']');
}

template <typename Stream>
void appendEnvelope(Stream& out, const Json::Value& envelope) {
  const bool success = envelope["success"].asBool();
  putText(out, success ? "{\"success\":true,\"data\":" : "{\"success\":false,\"error\":");
  CompactWriter<Stream>(out, true).writeWhole(envelope[success ? "data" : "error"]);
  out.Put('}');
}

}  // namespace

std::string compactJson(const Json::Value& value) {
  TextBuffer text;
  CompactWriter<TextBuffer>(text, false).writeWhole(value);
  return std::string(text.GetString(), text.GetSize());
}

std::string envelopeJson(const Json::Value& envelope) {
  TextBuffer text;
  appendEnvelope(text, envelope);
  return std::string(text.GetString(), text.GetSize());
}

bool writeEnvelopeLine(std::FILE* file, const Json::Value& envelope) {
  std::vector<char> buffer(64 * 1024);
  rapidjson::FileWriteStream out(file, buffer.data(), buffer.size());
  appendEnvelope(out, envelope);
  out.Put('\n');
  out.Flush();
  return std::ferror(file) == 0;
}

Json::Value hostErrorEnvelope(HostError code, const std::string& particulars) {
  std::string detail = hostErrorText(code);
  // Particulars often quote what the client sent, which need not be UTF-8.
  if (!particulars.empty()) detail += ": " + orva_text::validUtf8(particulars);
  Json::Value error(Json::objectValue);
  error["code"] = static_cast<int>(code);
  error["detail"] = detail;
  Json::Value envelope(Json::objectValue);
  envelope["success"] = false;
  envelope["error"] = error;
  return envelope;
}

}  // namespace orva_host
