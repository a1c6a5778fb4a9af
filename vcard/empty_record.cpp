// The record a card starts from: every member the page always expects.
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::setEmptyInfo(Json::Value& record) {
  record = Json::Value(Json::objectValue);
  Json::Value& name = record["name"];
  name["family_name"] = "";
  name["given_name"] = "";
  name["additional_name"] = "";
  Json::Value& company = record["company"];
  company["org"] = "";
  company["title"] = "";
  record["tel"] = Json::Value(Json::arrayValue);
  record["mail"] = Json::Value(Json::arrayValue);
  record["note"] = "";
}
