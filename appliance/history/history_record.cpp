#include "appliance/history/history_record.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace orva_history {

namespace {

std::string hex16(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

// Reads one blank-ended field of the header starting at pos.
bool field(std::string_view header, std::size_t& pos, std::string_view& out) {
  const std::size_t end = header.find(' ', pos);
  const std::size_t stop = end == std::string_view::npos ? header.size() : end;
  if (stop == pos) return false;
  out = header.substr(pos, stop - pos);
  pos = stop == header.size() ? stop : stop + 1;
  return true;
}

bool number(std::string_view text, int base, std::uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return false;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
  }
  out = value;
  return true;
}

}  // namespace

std::string encodeRecord(char kind, std::int64_t timeMs, const std::string& change,
                         const std::string& version, const std::string& name,
                         const std::string& maker, std::string_view body) {
  std::string out = "\x1eR ";
  out += kind;
  out += ' ' + std::to_string(timeMs) + ' ' + change + ' ' + (version.empty() ? "-" : version) +
         ' ' + std::to_string(name.size()) + ' ' + std::to_string(maker.size()) + ' ' +
         std::to_string(body.size()) + '\n';
  out.reserve(out.size() + name.size() + maker.size() + body.size() + 1);
  out += name;
  out += maker;
  out.append(body.data(), body.size());
  out += '\n';
  return out;
}

std::string encodeSeal(std::uint64_t start, std::uint64_t offset) {
  return "\x1e"
         "E " +
         hex16(start) + ' ' + hex16(offset) + '\n';
}

bool isSealAt(std::string_view tail, std::uint64_t size) {
  if (tail.size() != kSealSize || size < kSealSize) return false;
  std::uint64_t start = 0, offset = 0;
  return tail.substr(0, 3) ==
             "\x1e"
             "E " &&
         tail[19] == ' ' && tail.back() == '\n' && number(tail.substr(3, 16), 16, start) &&
         number(tail.substr(20, 16), 16, offset) && offset == size - kSealSize && start <= offset;
}

Parsed parseNext(std::string_view data, std::size_t& pos, Record& out) {
  if (pos >= data.size()) return Parsed::kEnd;
  const std::string_view rest = data.substr(pos);
  if (rest.size() >= kSealSize && rest.substr(0, 3) ==
                                      "\x1e"
                                      "E ") {
    std::uint64_t start = 0, offset = 0;
    if (rest[kSealSize - 1] != '\n' || !number(rest.substr(3, 16), 16, start) ||
        !number(rest.substr(20, 16), 16, offset) || offset != pos) {
      return Parsed::kTorn;
    }
    pos += kSealSize;
    return Parsed::kSeal;
  }
  const std::size_t lineEnd = rest.find('\n');
  if (rest.substr(0, 3) != "\x1eR " || lineEnd == std::string_view::npos || lineEnd > 200) {
    return Parsed::kTorn;
  }
  const std::string_view header = rest.substr(3, lineEnd - 3);
  std::size_t at = 0;
  std::string_view kind, time, nameLen, makerLen, bodyLen;
  std::uint64_t ms = 0, nl = 0, ml = 0, bl = 0;
  if (!field(header, at, kind) || kind.size() != 1 || (kind[0] != 'P' && kind[0] != 'D') ||
      !field(header, at, time) || !number(time, 10, ms) || !field(header, at, out.change) ||
      !field(header, at, out.version) || !field(header, at, nameLen) || !number(nameLen, 10, nl) ||
      !field(header, at, makerLen) || !number(makerLen, 10, ml) || !field(header, at, bodyLen) ||
      !number(bodyLen, 10, bl) || at != header.size()) {
    return Parsed::kTorn;
  }
  const std::uint64_t bodyStart = lineEnd + 1;
  const std::uint64_t total = bodyStart + nl + ml + bl + 1;
  if (nl > rest.size() || ml > rest.size() || bl > rest.size() || total > rest.size() ||
      rest[total - 1] != '\n') {
    return Parsed::kTorn;
  }
  out.kind = kind[0];
  out.timeMs = static_cast<std::int64_t>(ms);
  out.name = rest.substr(bodyStart, nl);
  out.maker = rest.substr(bodyStart + nl, ml);
  out.body = rest.substr(bodyStart + nl + ml, bl);
  out.offset = pos;
  pos += total;
  return Parsed::kRecord;
}

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace orva_history
