// One kept change of one entry of a collection (a card, an event, the
// collection's properties), as it is appended to the collection's journal:
//
//   "\x1eR <kind> <ms> <change> <version> <name len> <maker len> <body len>\n"
//   <name><maker><body>"\n"
//
// kind 'P' (the entry now holds body) or 'D' (the entry was deleted; body
// holds the bytes it had, when known). A write of the store ends with a
// seal, "\x1eE <start> <own offset>\n" (16 hex digits each), appended once
// the write landed: records after the last seal belong to a write whose
// outcome is unknown and are checked against the files on the next open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orva_history {

struct Record {
  char kind = 'P';
  std::int64_t timeMs = 0;
  std::string_view change;   // the change it belongs to: one request, one import
  std::string_view version;  // the body's version, "-" for no body
  std::string_view name;
  std::string_view maker;  // who made it, as the page shows it
  std::string_view body;
  std::uint64_t offset = 0;  // where the record starts in its file
};

// The record's bytes.
std::string encodeRecord(char kind, std::int64_t timeMs, const std::string& change,
                         const std::string& version, const std::string& name,
                         const std::string& maker, std::string_view body);

// The seal of a write that began at start and is appended at offset.
std::string encodeSeal(std::uint64_t start, std::uint64_t offset);
constexpr std::size_t kSealSize = 37;
// Whether the last kSealSize bytes of a file of size bytes are a seal.
bool isSealAt(std::string_view tail, std::uint64_t size);

enum class Parsed { kRecord, kSeal, kEnd, kTorn };
// Reads the item at pos of data (the file's content) and moves pos past it.
// kEnd at the end of data, kTorn when what follows is not a whole item.
Parsed parseNext(std::string_view data, std::size_t& pos, Record& out);

// Milliseconds since the epoch, now.
std::int64_t nowMs();

}  // namespace orva_history
