// The record a card starts from: every member the page always expects.
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::setEmptyInfo(Json::Value& record) {
  // An empty string made from the type needs no allocation, nor do its copies.
  const Json::Value empty(Json::stringValue);
  record = Json::Value(Json::objectValue);
  Json::Value& name = record["name"];
  name["family_name"] = empty;
  name["given_name"] = empty;
  name["additional_name"] = empty;
  Json::Value& company = record["company"];
  company["org"] = empty;
  company["title"] = empty;
  record["tel"] = Json::Value(Json::arrayValue);
  record["mail"] = Json::Value(Json::arrayValue);
  record["note"] = empty;
}
