// ADR lines into address entries. The structured value (box, extended,
// street, locality, region, code, country) stays one text with its ';'.
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
  Json::Value entry(Json::objectValue);
  entry["data"] = data;
  char* headCursor = head;
  if (const char* key = nextToken(headCursor, ";")) {
    orva_vcard::nameEntry(entry, key, labelTable, "ADR");
    for (char* token = nextToken(headCursor, ";"); token != nullptr;
         token = nextToken(headCursor, ";")) {
      if (orva_vcard::isTypeParameter(token)) orva_vcard::addType(entry, token);
    }
  }
  record["adr"].append(std::move(entry));
}
