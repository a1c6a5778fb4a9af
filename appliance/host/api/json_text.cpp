#include "appliance/host/api/json_text.h"

#include <json/json.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
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

// Where the compact writer puts its text: a string that grows, or a file
// fed in pieces, so that a large answer is never held whole a second time.
class JsonOut {
 public:
  // Text goes into text, which grows as needed; call finish() at the end.
  explicit JsonOut(std::string& text) : buffer_(text) { startIn(256); }
  // Text goes into room from its start, over all of room's present size
  // before it grows; its length is used(). For one buffer reused from text
  // to text: its bytes are never cleared, and finish() is not called.
  struct ReusedRoom {};
  JsonOut(std::string& room, ReusedRoom) : buffer_(room) {
    if (room.size() < 256) room.resize(256);
    cursor_ = &room[0];
    limit_ = cursor_ + room.size();
  }
  // Text goes to file in pieces, through buffer.
  JsonOut(std::string& buffer, std::FILE* file) : buffer_(buffer), file_(file) { startIn(kPiece); }

  void append(const char* begin, std::size_t size) {
    if (static_cast<std::size_t>(limit_ - cursor_) < size) makeRoom(size);
    std::memcpy(cursor_, begin, size);
    cursor_ += size;
  }
  void append(const char* begin, const char* end) {
    append(begin, static_cast<std::size_t>(end - begin));
  }
  void append(const std::string& text) { append(text.data(), text.size()); }
  void append(const char* text) { append(text, std::char_traits<char>::length(text)); }
  void push(char c) {
    if (cursor_ == limit_) makeRoom(1);
    *cursor_++ = c;
  }
  // '"', the first size bytes of sixteen (size < 16), '"'. All sixteen are
  // stored at once; the cursor moves past size of them only.
  void appendQuotedShort(const char (&sixteen)[16], std::size_t size) {
    if (static_cast<std::size_t>(limit_ - cursor_) < 18) makeRoom(18);
    *cursor_++ = '"';
    std::memcpy(cursor_, sixteen, 16);
    cursor_ += size;
    *cursor_++ = '"';
  }

  std::size_t used() const { return static_cast<std::size_t>(cursor_ - buffer_.data()); }

  // Ends the text: a string gets its length, a file the rest of the text.
  // False once any write to the file has failed.
  bool finish() {
    if (file_ == nullptr) {
      buffer_.resize(used());
      return true;
    }
    flush();
    buffer_.clear();
    return ok_;
  }

 private:
  static constexpr std::size_t kPiece = 64 * 1024;

  // The buffer is size bytes of room; cursor_ and limit_ point into it.
  void startIn(std::size_t size) {
    buffer_.resize(size);
    cursor_ = &buffer_[0];
    limit_ = cursor_ + buffer_.size();
  }
  void flush() {
    const std::size_t n = used();
    ok_ = ok_ && std::fwrite(buffer_.data(), 1, n, file_) == n;
    cursor_ = &buffer_[0];
  }
  void makeRoom(std::size_t size) {
    if (file_ != nullptr) flush();
    const std::size_t n = used();
    if (buffer_.size() - n < size) buffer_.resize(std::max(buffer_.size() * 2, n + size));
    cursor_ = &buffer_[0] + n;
    limit_ = &buffer_[0] + buffer_.size();
  }

  std::string& buffer_;
  std::FILE* file_ = nullptr;
  char* cursor_ = nullptr;  // where the next byte goes
  char* limit_ = nullptr;   // the end of the room
  bool ok_ = true;
};

inline bool needsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

#ifdef __SSE2__
// Bit i set when byte i of the sixteen needs an escape (a control byte, '"'
// or '\\').
inline unsigned escapeMask(__m128i chunk) {
  const __m128i lastControl = _mm_set1_epi8(0x1f);
  // A byte is a control byte when the unsigned maximum with 0x1f is 0x1f.
  const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(chunk, lastControl), lastControl);
  const __m128i special = _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('"')),
                                       _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\\')));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, special)));
}
#endif

// The end of the run of bytes from p on that need no escape. Most texts hold
// none, so sixteen bytes are tested at once, a short rest through a copy
// (never reading past the text).
const char* plainRunEnd(const char* p, const char* end) {
#ifdef __SSE2__
  for (; end - p >= 16; p += 16) {
    const unsigned hits = escapeMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    if (hits != 0) return p + __builtin_ctz(hits);
  }
  if (p == end) return p;
  const auto rest = static_cast<unsigned>(end - p);
  alignas(16) char tail[16] = {};
  std::memcpy(tail, p, rest);
  const unsigned hits =
      escapeMask(_mm_load_si128(reinterpret_cast<const __m128i*>(tail))) & ((1U << rest) - 1);
  return hits != 0 ? p + __builtin_ctz(hits) : end;
#else
  while (p != end && !needsEscape(static_cast<unsigned char>(*p))) ++p;
  return p;
#endif
}

// jsoncpp's quoting with emitUTF8: the seven short escapes, other control
// bytes as \u00xx, every other byte as it is.
void appendQuoted(JsonOut& out, const char* begin, const char* end) {
  static constexpr char kHex[] = "0123456789abcdef";
#ifdef __SSE2__
  // Most member names and many values are short and plain: one test and
  // one store each.
  const auto size = static_cast<std::size_t>(end - begin);
  if (size < 16) {
    alignas(16) char sixteen[16] = {};
    std::memcpy(sixteen, begin, size);
    const unsigned hits =
        escapeMask(_mm_load_si128(reinterpret_cast<const __m128i*>(sixteen))) & ((1U << size) - 1);
    if (hits == 0) {
      out.appendQuotedShort(sixteen, size);
      return;
    }
  }
#endif
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

// An object's members in key order, as jsoncpp writes them, each value
// written by appendValue.
template <typename AppendValue>
void appendObject(JsonOut& out, const Json::Value& object, AppendValue appendValue) {
  out.push('{');
  bool first = true;
  const Json::Value::const_iterator last = object.end();
  for (Json::Value::const_iterator it = object.begin(); it != last; ++it) {
    if (!first) out.push(',');
    first = false;
    const char* end = nullptr;
    const char* name = it.memberName(&end);
    appendQuoted(out, name, end);
    out.push(':');
    appendValue(out, *it);
  }
  out.push('}');
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
      // Elements come in index order; walking them saves a lookup each. An
      // index never set (a gap) is null, as jsoncpp writes it; an array
      // holding as many elements as its size has none.
      out.push('[');
      const Json::Value::const_iterator first = value.begin();
      const Json::Value::const_iterator last = value.end();
      Json::ArrayIndex held = 0;
      for (Json::Value::const_iterator it = first; it != last; ++it) ++held;
      const bool gaps = held != value.size();
      Json::ArrayIndex next = 0;
      for (Json::Value::const_iterator it = first; it != last; ++it) {
        if (gaps) {
          for (const Json::ArrayIndex index = it.index(); next < index; ++next) {
            out.append(next > 0 ? ",null" : "null");
          }
        }
        if (next++ > 0) out.push(',');
        appendCompact(out, *it);
      }
      out.push(']');
      return;
    }
    case Json::objectValue:
      appendObject(out, value, appendCompact);
      return;
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

// A long array (the cards of a listing) is written on every core: workers
// turn runs of its elements into text, and each finished run is written out
// as soon as the runs before it are, so only the runs in flight are held as
// text.
constexpr Json::ArrayIndex kElementsPerWorker = 1024;
constexpr std::size_t kElementsPerRun = 128;

class LongArrayWriter {
 public:
  LongArrayWriter(JsonOut& out, const Json::Value& array) : out_(out) {
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
      std::string room;
      for (std::size_t run = nextRun_++; run < runs_; run = nextRun_++) {
        JsonOut piece(room, JsonOut::ReusedRoom());
        const std::size_t last = std::min(elements_.size(), (run + 1) * kElementsPerRun);
        for (std::size_t i = run * kElementsPerRun; i < last; ++i) {
          if (i > 0) piece.push(',');
          if (elements_[i] == nullptr) {
            piece.append("null");
          } else {
            appendCompact(piece, *elements_[i]);
          }
        }
        finishRun(run, room.data(), piece.used());
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
      out_.append(text, size);
      ++nextToWrite_;
    } else {
      texts_[run].assign(text, size);
    }
    for (; nextToWrite_ < runs_ && done_[nextToWrite_] != 0; ++nextToWrite_) {
      out_.append(texts_[nextToWrite_]);
      std::string().swap(texts_[nextToWrite_]);
    }
  }

  JsonOut& out_;
  std::vector<const Json::Value*> elements_;
  std::size_t runs_ = 0;
  std::vector<std::string> texts_;
  std::vector<char> done_;
  std::size_t nextToWrite_ = 0;  // guarded by lock_
  std::atomic<std::size_t> nextRun_{0};
  std::mutex lock_;
  std::exception_ptr failure_;
};

void appendLongArray(JsonOut& out, const Json::Value& array) {
  out.push('[');
  LongArrayWriter writer(out, array);
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
  out.push(']');
}

// As appendCompact, but long arrays anywhere in objects are written by
// appendLongArray.
void appendWithLongArrays(JsonOut& out, const Json::Value& value) {
  if (value.isArray() && value.size() >= kElementsPerWorker) {
    appendLongArray(out, value);
    return;
  }
  if (!value.isObject()) {
    appendCompact(out, value);
    return;
  }
  appendObject(out, value, appendWithLongArrays);
}

void appendEnvelope(JsonOut& out, const Json::Value& envelope) {
  const bool success = envelope["success"].asBool();
  out.append(success ? "{\"success\":true,\"data\":" : "{\"success\":false,\"error\":");
  appendWithLongArrays(out, envelope[success ? "data" : "error"]);
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

bool writeEnvelopeLine(std::FILE* file, const Json::Value& envelope) {
  std::string buffer;
  JsonOut out(buffer, file);
  appendEnvelope(out, envelope);
  out.push('\n');
  return out.finish();
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
