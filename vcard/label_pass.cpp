// Label pass: custom labels of item groups (item1.X-ABLabel:Gym) into the
// handler's label table, for the property readers to name grouped entries.
#include <cstring>

#include "module/webapi-ContactAndCalendar.h"
#include "vcard/line_scanner.h"

namespace {

bool isLabelLine(const char* line) {
  return std::strstr(line, ".X-ABLabel:") != nullptr || std::strstr(line, ".X-ABADR:") != nullptr;
}

}  // namespace

void ContactAndCalendarHandler::ParseCardLabel(char* cardText) {
  char* cursor = cardText;
  for (orva_vcard::Piece line = orva_vcard::nextLine(cursor); line.begin != nullptr;
       line = orva_vcard::nextLine(cursor)) {
    // Most lines carry no label; one search for the common part skips them.
    if (std::strstr(line.begin, ".X-AB") == nullptr || !isLabelLine(line.begin)) continue;
    const char* dot = std::strchr(line.begin, '.');
    const char* label = std::strchr(line.begin, ':') + 1;
    const char* labelEnd = line.begin + line.size;
    // Apple writes its own labels as _$!<Mobile>!$_: keep the word inside.
    if (const char* close = std::strchr(label, '>')) {
      labelEnd = close;
      if (const char* open = static_cast<const char*>(std::memchr(label, '<', close - label))) {
        label = open + 1;
      }
    }
    labelTable[std::string(static_cast<const char*>(line.begin), dot)] =
        Json::Value(label, labelEnd);
  }
}
