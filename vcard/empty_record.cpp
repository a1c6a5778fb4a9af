// The record a card starts from: every member the page always expects.
#include "module/webapi-ContactAndCalendar.h"

namespace {

Json::Value makeEmptyRecord() {
  // An empty string made from the type needs no allocation, nor do its copies.
  const Json::Value empty(Json::stringValue);
  Json::Value record(Json::objectValue);
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
  return record;
}

}  // namespace

void ContactAndCalendarHandler::setEmptyInfo(Json::Value& record) {
  // Copying a finished tree costs about half of building it member by member
  // (jsoncpp copies each new key twice on insertion). The shape is never
  // changed after it is made, and copies own their keys.
  static const Json::Value kEmptyRecord = makeEmptyRecord();
  record = kEmptyRecord;
}
