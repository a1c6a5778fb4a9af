// The writer's operations of the request handler.
#include <utility>

#include "module/webapi-ContactAndCalendar.h"
#include "vcard/card_writer.h"
#include "vcard/text_escape.h"

std::string ContactAndCalendarHandler::setCardContent(Json::Value record) {
  return orva_vcard::writeCard(record);
}

std::string ContactAndCalendarHandler::formulateStr(const char* text) {
  return orva_vcard::formulateText(text);
}
