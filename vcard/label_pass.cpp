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
  // Few lines carry a label, so search the whole text for the marker's
  // common part and cut out only the lines around the hits.
  char* cursor = cardText;
  while (char* hit = std::strstr(cursor, ".X-AB")) {
    char* begin = hit;
    while (begin > cursor && !orva_vcard::isLineBreak(begin[-1])) --begin;
    char* end = hit + std::strcspn(hit, "\r\n");
    cursor = *end == '\0' ? end : end + 1;
    *end = '\0';
    if (!isLabelLine(begin)) continue;
    const char* dot = std::strchr(begin, '.');
    const char* label = std::strchr(begin, ':') + 1;
    const char* labelEnd = end;
    // Apple writes its own labels as _$!<Mobile>!$_: keep the word inside.
    if (const char* close = std::strchr(label, '>')) {
      labelEnd = close;
      if (const char* open = static_cast<const char*>(std::memchr(label, '<', close - label))) {
        label = open + 1;
      }
    }
    labelTable[std::string(static_cast<const char*>(begin), dot)] = Json::Value(label, labelEnd);
  }
}
