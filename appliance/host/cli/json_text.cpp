#include "appliance/host/cli/json_text.h"

#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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

// Where the compact writer puts its text: a string that grows, or a file
// fed in pieces, so that a large answer is never held whole a second time.
class JsonOut {
 public:
  // Text goes into text, which grows as needed; call finish() at the end.
  explicit JsonOut(std::string& text) : buffer_(text) { buffer_.resize(256); }
  // Text goes to file in pieces, through buffer.
  JsonOut(std::string& buffer, std::FILE* file) : buffer_(buffer), file_(file) {
    buffer_.resize(kPiece);
  }

  void append(const char* begin, std::size_t size) {
    if (buffer_.size() - used_ < size) makeRoom(size);
    std::memcpy(&buffer_[used_], begin, size);
    used_ += size;
  }
  void append(const char* begin, const char* end) {
    append(begin, static_cast<std::size_t>(end - begin));
  }
  void append(const std::string& text) { append(text.data(), text.size()); }
  void append(const char* text) { append(text, std::char_traits<char>::length(text)); }
  void push(char c) {
    if (used_ == buffer_.size()) makeRoom(1);
    buffer_[used_++] = c;
  }

  // Ends the text: a string gets its length, a file the rest of the text.
  // False once any write to the file has failed.
  bool finish() {
    if (file_ == nullptr) {
      buffer_.resize(used_);
      return true;
    }
    flush();
    buffer_.clear();
    return ok_;
  }

 private:
  static constexpr std::size_t kPiece = 64 * 1024;

  void flush() {
    ok_ = ok_ && std::fwrite(buffer_.data(), 1, used_, file_) == used_;
    used_ = 0;
  }
  void makeRoom(std::size_t size) {
    if (file_ != nullptr) flush();
    if (buffer_.size() - used_ < size) buffer_.resize(std::max(buffer_.size() * 2, used_ + size));
  }

  std::string& buffer_;
  std::FILE* file_ = nullptr;
  std::size_t used_ = 0;
  bool ok_ = true;
};

// Eight bytes at a time: true when any of them is a control byte, '"' or '\'.
inline bool wordNeedsEscape(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  const auto hasZeroByte = [](std::uint64_t x) { return ((x - kOnes) & ~x & kHigh) != 0; };
  const bool control = ((word - kOnes * 0x20) & ~word & kHigh) != 0;
  return control || hasZeroByte(word ^ (kOnes * '"')) || hasZeroByte(word ^ (kOnes * '\\'));
}

inline bool needsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// The end of the run of bytes from p on that need no escape.
const char* plainRunEnd(const char* p, const char* end) {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (wordNeedsEscape(word)) break;
    p += 8;
  }
  while (p != end && !needsEscape(static_cast<unsigned char>(*p))) ++p;
  return p;
}

// jsoncpp's quoting with emitUTF8: the seven short escapes, other control
// bytes as \u00xx, every other byte as it is.
void appendQuoted(JsonOut& out, const char* begin, const char* end) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push('"');
  for (const char* p = begin; p != end; ++p) {
    // Plain runs go in whole; most texts hold nothing to escape.
    const char* plain = p;
    p = plainRunEnd(p, end);
    out.append(plain, p);
    if (p == end) break;
    const unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf], '\0'};
        out.append(escape);
      }
    }
  }
  out.push('"');
}

// The text of jsoncpp's compact writer (no indentation, UTF-8 kept), written
// straight out: jsoncpp's writer copies every member name and looks each
// member up again, which dominates large answers. Comments are not JSON and
// are never written (jsoncpp's would break the line).
void appendCompact(JsonOut& out, const Json::Value& value) {
  switch (value.type()) {
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      // An empty string made from the type has no text at all.
      if (!value.getString(&begin, &end)) begin = end = nullptr;
      appendQuoted(out, begin, end);
      return;
    }
    case Json::arrayValue: {
      out.push('[');
      const Json::ArrayIndex size = value.size();
      for (Json::ArrayIndex i = 0; i < size; ++i) {
        if (i > 0) out.push(',');
        appendCompact(out, value[i]);
      }
      out.push(']');
      return;
    }
    case Json::objectValue: {
      // Members come in key order, as jsoncpp writes them.
      out.push('{');
      bool first = true;
      const Json::Value::const_iterator last = value.end();
      for (Json::Value::const_iterator it = value.begin(); it != last; ++it) {
        if (!first) out.push(',');
        first = false;
        const char* end = nullptr;
        const char* name = it.memberName(&end);
        appendQuoted(out, name, end);
        out.push(':');
        appendCompact(out, *it);
      }
      out.push('}');
      return;
    }
    case Json::intValue:
      out.append(Json::valueToString(value.asLargestInt()));
      return;
    case Json::uintValue:
      out.append(Json::valueToString(value.asLargestUInt()));
      return;
    case Json::realValue:
      out.append(Json::valueToString(value.asDouble()));
      return;
    case Json::booleanValue:
      out.append(value.asBool() ? "true" : "false");
      return;
    case Json::nullValue:
      out.append("null");
      return;
  }
}

void appendEnvelope(JsonOut& out, const Json::Value& envelope) {
  const bool success = envelope["success"].asBool();
  out.append(success ? "{\"success\":true,\"data\":" : "{\"success\":false,\"error\":");
  appendCompact(out, envelope[success ? "data" : "error"]);
  out.push('}');
}

// A long array (the cards of a listing) is written on every core: workers
// turn runs of its elements into text, releasing each element as they go,
// and the texts are written in order.
constexpr Json::ArrayIndex kElementsPerWorker = 1024;
constexpr std::size_t kElementsPerRun = 128;

void appendLongArray(JsonOut& out, Json::Value& array) {
  std::vector<Json::Value*> elements;
  elements.reserve(array.size());
  for (Json::Value& element : array) elements.push_back(&element);
  const std::size_t runs = (elements.size() + kElementsPerRun - 1) / kElementsPerRun;
  std::vector<std::string> texts(runs);
  std::atomic<std::size_t> nextRun{0};
  std::mutex failureLock;
  std::exception_ptr failure;
  const auto work = [&]() {
    try {
      for (std::size_t run = nextRun++; run < runs; run = nextRun++) {
        JsonOut text(texts[run]);
        const std::size_t last = std::min(elements.size(), (run + 1) * kElementsPerRun);
        for (std::size_t i = run * kElementsPerRun; i < last; ++i) {
          if (i > 0) text.push(',');
          appendCompact(text, *elements[i]);
          *elements[i] = Json::Value();
        }
        text.finish();
      }
    } catch (...) {
      const std::lock_guard<std::mutex> guard(failureLock);
      if (!failure) failure = std::current_exception();
      nextRun = runs;
    }
  };
  const std::size_t workers = std::min<std::size_t>(
      std::max(1U, std::thread::hardware_concurrency()), 1 + elements.size() / kElementsPerWorker);
  std::vector<std::thread> helpers;
  // Room first: once a thread runs, nothing here may throw before the joins.
  helpers.reserve(workers);
  for (std::size_t w = 1; w < workers; ++w) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer hands do the same work
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
  out.push('[');
  for (std::string& text : texts) {
    out.append(text);
    std::string().swap(text);
  }
  out.push(']');
}

// As appendCompact, but long arrays anywhere in objects are written by
// appendLongArray, which leaves their elements null.
void appendReleasing(JsonOut& out, Json::Value& value) {
  if (value.isArray() && value.size() >= kElementsPerWorker) {
    appendLongArray(out, value);
    return;
  }
  if (!value.isObject()) {
    appendCompact(out, value);
    return;
  }
  out.push('{');
  bool first = true;
  for (Json::Value::iterator it = value.begin(); it != value.end(); ++it) {
    if (!first) out.push(',');
    first = false;
    const char* end = nullptr;
    const char* name = it.memberName(&end);
    appendQuoted(out, name, end);
    out.push(':');
    appendReleasing(out, *it);
  }
  out.push('}');
}

}  // namespace

std::string compactJson(const Json::Value& value) {
  std::string text;
  JsonOut out(text);
  appendCompact(out, value);
  out.finish();
  return text;
}

std::string envelopeJson(const Json::Value& envelope) {
  std::string text;
  JsonOut out(text);
  appendEnvelope(out, envelope);
  out.finish();
  return text;
}

bool writeEnvelopeLine(std::FILE* file, Json::Value&& envelope) {
  std::string buffer;
  JsonOut out(buffer, file);
  const bool success = envelope["success"].asBool();
  out.append(success ? "{\"success\":true,\"data\":" : "{\"success\":false,\"error\":");
  appendReleasing(out, envelope[success ? "data" : "error"]);
  out.append("}\n");
  return out.finish();
}

Json::Value hostErrorEnvelope(HostError code, const std::string& particulars) {
  std::string detail = hostErrorText(code);
  if (!particulars.empty()) detail += ": " + particulars;
  Json::Value error(Json::objectValue);
  error["code"] = static_cast<int>(code);
  error["detail"] = detail;
  Json::Value envelope(Json::objectValue);
  envelope["success"] = false;
  envelope["error"] = error;
  return envelope;
}

}  // namespace orva_host
