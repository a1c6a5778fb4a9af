// TEL, EMAIL and URL lines into property entries of the record.
#include <cstring>
#include <utility>

#include "module/webapi-ContactAndCalendar.h"
#include "vcard/line_scanner.h"
#include "vcard/property_naming.h"

namespace {

using orva_vcard::nextToken;

// The name token, then type parameters and plain tokens; the last plain token
// is the value. vCard 2.1 parameters without "type=" (TEL;CELL:...) are
// plain tokens and so give way to the value after them.
void readTokenEntry(char* line, Json::Value& target, const Json::Value& labelTable,
                    const char* defaultName, const char* delimiters) {
  char* cursor = line;
  const char* key = nextToken(cursor, ";:");
  if (key == nullptr) return;
  Json::Value types;
  const char* data = nullptr;
  for (char* token = nextToken(cursor, delimiters); token != nullptr;
       token = nextToken(cursor, delimiters)) {
    if (orva_vcard::isTypeParameter(token)) {
      orva_vcard::addType(types, token);
    } else {
      data = token;
    }
  }
  if (data == nullptr) return;  // tokens are never empty, so no value at all
  Json::Value entry = orva_vcard::namedEntryShape();
  entry["data"] = data;
  orva_vcard::nameEntry(entry, key, labelTable, defaultName);
  if (!types.isNull()) entry["type"] = std::move(types);
  target.append(std::move(entry));
}

}  // namespace

void ContactAndCalendarHandler::ParseInfoTEL(char* line, Json::Value& record) {
  readTokenEntry(line, record["tel"], labelTable, "TEL", ";:,");
}

void ContactAndCalendarHandler::ParseInfoEMAIL(char* line, Json::Value& record) {
  readTokenEntry(line, record["mail"], labelTable, "EMAIL", ";:");
}

// A web address holds colons of its own, so the value is everything after the
// line's first colon; the parameters before it are read one by one. This
// reads all the shapes the writer produces: no parameter, one, or several.
void ContactAndCalendarHandler::ParseInfoURL(char* line, Json::Value& record) {
  char* colon = std::strchr(line, ':');
  if (colon == nullptr || colon[1] == '\0') return;
  *colon = '\0';
  char* cursor = line;
  const char* key = nextToken(cursor, ";");
  Json::Value entry =
      key != nullptr ? orva_vcard::namedEntryShape() : Json::Value(Json::objectValue);
  entry["data"] = colon + 1;
  if (key != nullptr) {
    orva_vcard::nameEntry(entry, key, labelTable, "URL");
    Json::Value types;
    for (char* token = nextToken(cursor, ";"); token != nullptr; token = nextToken(cursor, ";")) {
      if (orva_vcard::isTypeParameter(token)) orva_vcard::addType(types, token);
    }
    if (!types.isNull()) entry["type"] = std::move(types);
  }
  record["url"].append(std::move(entry));
}
