// A JSON string holding a piece of a card text.
#pragma once

#include <json/value.h>

#include <string_view>

namespace orva_vcard {

inline Json::Value jsonText(std::string_view text) {
  if (text.empty()) return Json::Value(Json::stringValue);
  return Json::Value(text.data(), text.data() + text.size());
}

}  // namespace orva_vcard
