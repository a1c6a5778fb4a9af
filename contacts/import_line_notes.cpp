#include "contacts/import_line_notes.h"

#include "module/request_params.h"

namespace orva_contacts {

namespace {

// A refused property name can hold any byte; the answer is JSON, so only
// printable ASCII is kept and the rest shows as '?'.
std::string printable(std::string_view name) {
  std::string shown(name.substr(0, 64));
  for (char& c : shown) {
    if (c < 0x20 || c > 0x7e) c = '?';
  }
  return shown;
}

// At most 64 bytes of a card's name, cut where a UTF-8 sequence begins.
std::string shortName(const std::string& card) {
  if (card.size() <= 64) return card;
  std::size_t end = 64;
  while (end > 0 && (static_cast<unsigned char>(card[end]) & 0xC0) == 0x80) --end;
  return card.substr(0, end);
}

}  // namespace

void LineNotes::add(const std::string& card, std::string_view property,
                    std::string_view reason) {
  ++count_;
  const std::string name = printable(property);
  const std::string shown = shortName(card);
  const std::string message = std::string("import_cards: card \"") + shown +
                              "\": line " + name + " " + what_ + ": " + std::string(reason);
  orva_params::logError(__LINE__, message.c_str());
  if (lines_.size() >= kShown) return;
  Json::Value line(Json::objectValue);
  line["card"] = shown;
  line["property"] = name;
  line["reason"] = std::string(reason);
  lines_.append(line);
}

Json::Value LineNotes::answer() const {
  Json::Value value(Json::objectValue);
  value["count"] = Json::Value::UInt64(count_);
  value["lines"] = lines_;
  return value;
}

}  // namespace orva_contacts
