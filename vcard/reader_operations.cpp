// The reader's operations of the request handler: each hands its text to the
// free functions that hold the work.
#include <cstring>
#include <string_view>

#include "module/webapi-ContactAndCalendar.h"
#include "vcard/card_reader.h"

namespace {

std::string_view textOf(const char* text) { return text != nullptr ? text : std::string_view(); }

}  // namespace

void ContactAndCalendarHandler::ParseCardLabel(char* cardText) {
  orva_vcard::readLabels(textOf(cardText), labelTable);
}

void ContactAndCalendarHandler::ParseCardText(char* cardText, Json::Value& record) {
  orva_vcard::readCardText(textOf(cardText), labelTable, record);
}

void ContactAndCalendarHandler::setEmptyInfo(Json::Value& record) {
  record = orva_vcard::emptyRecord();
}

void ContactAndCalendarHandler::ParseInfoName(char* text, Json::Value& record) {
  orva_vcard::readNameValue(textOf(text), record);
}

void ContactAndCalendarHandler::ParseInfoTEL(char* line, Json::Value& record) {
  orva_vcard::readEntry(orva_vcard::EntryKind::kTel, textOf(line), labelTable, record);
}

void ContactAndCalendarHandler::ParseInfoEMAIL(char* line, Json::Value& record) {
  orva_vcard::readEntry(orva_vcard::EntryKind::kEmail, textOf(line), labelTable, record);
}

void ContactAndCalendarHandler::ParseInfoURL(char* line, Json::Value& record) {
  orva_vcard::readEntry(orva_vcard::EntryKind::kUrl, textOf(line), labelTable, record);
}

void ContactAndCalendarHandler::ParseInfoADR(char* line, Json::Value& record) {
  orva_vcard::readEntry(orva_vcard::EntryKind::kAdr, textOf(line), labelTable, record);
}
