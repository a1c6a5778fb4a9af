#include "module/webapi-ContactAndCalendar.h"

std::string ContactAndCalendarHandler::setCardContent(Json::Value) { return std::string(); }
std::string ContactAndCalendarHandler::formulateStr(const char*) { return std::string(); }
