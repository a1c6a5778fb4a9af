#include "module/webapi-ContactAndCalendar.h"

bool ContactAndCalendarHandler::isMatch(const Json::Value&, const std::string&) { return false; }
