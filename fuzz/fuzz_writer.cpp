// Fuzz target for the vCard writer: any JSON value as a contact record, and
// the raw input through formulateStr. Beyond not crashing, a written card must
// keep its line structure: outside "other", no value may break or add a line.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "module/webapi-ContactAndCalendar.h"

namespace {

// Every CR is followed by LF, every LF preceded by CR, and the text ends with
// the card's one END line.
bool wellFormed(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  const std::string end = "\r\nEND:VCARD\r\n";
  if (text.size() < end.size() || text.compare(text.size() - end.size(), end.size(), end) != 0) {
    return false;
  }
  return text.find("\nEND:VCARD\r\n") == text.size() - end.size() + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler(&request, &response, "fuzz");

  const std::string raw(begin, size);
  const std::string escaped = handler.formulateStr(raw.c_str());
  if (escaped.size() > 2 * raw.size()) __builtin_trap();

  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value record;
  std::string errors;
  if (!reader->parse(begin, begin + size, &record, &errors)) return 0;

  const Json::Value before = record;
  const std::string text = handler.setCardContent(record);
  if (!(record == before)) __builtin_trap();

  // "other" is written as it is given, so only records without it are held
  // to the line structure.
  const bool hasOther = record.isObject() && record.isMember("other") &&
                        record["other"].isString() && !record["other"].asString().empty();
  const bool hasId = record.isObject() && record.isMember("id") && record["id"].isString() &&
                     !record["id"].asString().empty();
  if ((hasId || !hasOther) && !wellFormed(text)) __builtin_trap();
  return 0;
}
