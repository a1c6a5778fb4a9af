// A JSON string holding a piece of a card text.
#pragma once

#include <json/value.h>

#include <string_view>

namespace orva_vcard {

inline Json::Value jsonText(std::string_view text) {
  if (text.empty()) return Json::Value(Json::stringValue);
  return Json::Value(text.data(), text.data() + text.size());
}

// Sets member to a copy of text in place: no lookup, and no swap of the
// comments as an assignment makes.
inline void setJsonText(Json::Value& member, std::string_view text) {
  Json::Value made = jsonText(text);
  member.swapPayload(made);
}

}  // namespace orva_vcard
