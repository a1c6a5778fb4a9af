// Fuzz target for the vCard reader: the label pass and the text pass on the
// input, as list_cards runs them, each on its own NUL-terminated copy. Beyond
// not crashing, the record must keep the shape every page relies on, and
// writing it back unchanged, as edit_card does, must give a text the store
// takes whenever the store took the input.
#include <json/value.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "appliance/store/card_check.h"
#include "module/webapi-ContactAndCalendar.h"
#include "vcard/property_name.h"

namespace {

bool entriesHaveData(const Json::Value& entries) {
  if (entries.isNull()) return true;
  if (!entries.isArray()) return false;
  for (const Json::Value& entry : entries) {
    if (!entry.isMember("data") || entry["data"].asString().empty()) return false;
    if (entry.isMember("type") && (!entry["type"].isArray() || entry["type"].empty())) {
      return false;
    }
  }
  return true;
}

bool wellShaped(const Json::Value& record) {
  if (!record["name"].isObject() || !record["company"].isObject()) return false;
  if (!record["tel"].isArray() || !record["mail"].isArray()) return false;
  if (!record["note"].isString() || !record["other"].isString()) return false;
  for (const char* key : {"tel", "mail", "adr", "url"}) {
    if (!entriesHaveData(record[key])) return false;
  }
  // "other" is whole lines, each ended by CR LF, and never an END line.
  const std::string other = record["other"].asString();
  if (!other.empty() && other.compare(other.size() - 2, 2, "\r\n") != 0) return false;
  for (std::size_t start = 0; start < other.size();) {
    const std::size_t end = other.find("\r\n", start);
    if (orva_vcard::nameIs(orva_vcard::propertyName(other.substr(start, end - start)), "END")) {
      return false;
    }
    start = end + 2;
  }
  return true;
}

char* copyOf(const uint8_t* data, size_t size, std::vector<char>& buffer) {
  buffer.assign(data, data + size);
  buffer.push_back('\0');
  return buffer.data();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler(&request, &response, "fuzz");
  std::vector<char> buffer;
  Json::Value record;
  // Twice on one handler, so labels left by the first card meet the second.
  for (int round = 0; round < 2; ++round) {
    handler.ParseCardLabel(copyOf(data, size, buffer));
    handler.ParseCardText(copyOf(data, size, buffer), record);
    if (!wellShaped(record)) __builtin_trap();
  }
  const std::string key(reinterpret_cast<const char*>(data), std::min<size_t>(size, 4));
  handler.isMatch(record, key);

  // A no-op edit of a card the store would hold must be held too.
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (input.find('\0') == std::string::npos && orva_store::cardTextRefusal(input).empty()) {
    record["id"] = "";
    const std::string written = handler.setCardContent(record);
    if (!orva_store::cardTextRefusal(written).empty()) __builtin_trap();
    // A second no-op edit writes the same bytes: nothing rotates or is
    // escaped twice.
    Json::Value again;
    std::vector<char> copy(written.begin(), written.end());
    copy.push_back('\0');
    handler.ParseCardLabel(copy.data());
    copy.assign(written.begin(), written.end());
    copy.push_back('\0');
    handler.ParseCardText(copy.data(), again);
    again["id"] = "";
    if (handler.setCardContent(again) != written) __builtin_trap();
  }
  return 0;
}
