#include "contacts/import_dropped_lines.h"

#include <string>

namespace orva_contacts {

namespace {

// A refused property name can hold any byte; the answer is JSON, so only
// printable ASCII is quoted and the rest shows as '?'.
std::string printable(std::string_view name) {
  std::string shown(name.substr(0, 64));
  for (char& c : shown) {
    if (c < 0x20 || c > 0x7e) c = '?';
  }
  return shown;
}

}  // namespace

void DroppedLines::add(std::uint64_t card, std::string_view name, std::string_view reason) {
  add(card, std::string(), name, reason);
}

void DroppedLines::add(std::uint64_t card, const std::string& cardName, std::string_view name,
                       std::string_view reason) {
  ++count_;
  if (named_.size() >= kNamed) return;
  Json::Value line(Json::objectValue);
  line["card"] = Json::Value::UInt64(card);
  if (!cardName.empty()) line["name"] = cardName.substr(0, 256);
  line["line"] = printable(name);
  line["why"] = std::string(reason);
  named_.append(line);
}

void DroppedLines::addTo(Json::Value& answer) const {
  if (count_ == 0) return;
  answer[countKey_] = Json::Value::UInt64(count_);
  answer[listKey_] = named_;
}

}  // namespace orva_contacts
