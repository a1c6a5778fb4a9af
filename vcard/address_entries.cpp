// ADR lines into address entries. The structured value (box, extended,
// street, locality, region, code, country) stays one text with its ';'.
#include <utility>

#include "module/webapi-ContactAndCalendar.h"
#include "vcard/line_scanner.h"
#include "vcard/property_naming.h"

void ContactAndCalendarHandler::ParseInfoADR(char* line, Json::Value& record) {
  using orva_vcard::nextToken;
  char* cursor = line;
  char* head = nextToken(cursor, ":");
  if (head == nullptr) return;
  const char* data = nextToken(cursor, ":");
  if (data == nullptr) return;
  char* headCursor = head;
  const char* key = nextToken(headCursor, ";");
  Json::Value entry =
      key != nullptr ? orva_vcard::namedEntryShape() : Json::Value(Json::objectValue);
  entry["data"] = data;
  if (key != nullptr) {
    orva_vcard::nameEntry(entry, key, labelTable, "ADR");
    Json::Value types;
    for (char* token = nextToken(headCursor, ";"); token != nullptr;
         token = nextToken(headCursor, ";")) {
      if (orva_vcard::isTypeParameter(token)) orva_vcard::addType(types, token);
    }
    if (!types.isNull()) entry["type"] = std::move(types);
  }
  record["adr"].append(std::move(entry));
}
