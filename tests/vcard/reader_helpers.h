// Reading whole card texts the way list_cards does, for the reader's tests.
#pragma once

#include <json/value.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/webapi.h"
#include "tests/support/temp_root.h"

namespace reader_test {

// The card's lines, each ended by CR LF.
inline std::string card(std::initializer_list<const char*> lines, const char* end = "\r\n") {
  std::string text;
  for (const char* line : lines) (text += line) += end;
  return text;
}

// Label pass on one copy, then text pass on another, on the given handler.
inline Json::Value read(ContactAndCalendarHandler& handler, const std::string& text) {
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  handler.ParseCardLabel(copy.data());
  copy.assign(text.begin(), text.end());
  copy.push_back('\0');
  Json::Value record;
  handler.ParseCardText(copy.data(), record);
  return record;
}

// The same on a fresh handler, so no label of another card is seen.
inline Json::Value read(const std::string& text) {
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler(&request, &response, "test");
  return read(handler, text);
}

inline Json::Value json(const std::string& text) { return orva_test::parseJson(text); }

}  // namespace reader_test
