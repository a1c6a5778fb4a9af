#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::ParseCardLabel(char*) {}
void ContactAndCalendarHandler::ParseCardText(char*, Json::Value&) {}
void ContactAndCalendarHandler::setEmptyInfo(Json::Value&) {}
void ContactAndCalendarHandler::ParseInfoName(char*, Json::Value&) {}
void ContactAndCalendarHandler::ParseInfoTEL(char*, Json::Value&) {}
void ContactAndCalendarHandler::ParseInfoEMAIL(char*, Json::Value&) {}
void ContactAndCalendarHandler::ParseInfoURL(char*, Json::Value&) {}
void ContactAndCalendarHandler::ParseInfoADR(char*, Json::Value&) {}
