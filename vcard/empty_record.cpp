// The record a card starts from: every member the page always expects.
#include "vcard/card_reader.h"

namespace orva_vcard {

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

const Json::Value& emptyRecord() {
  // Copying a finished tree costs about half of building it member by member
  // (jsoncpp copies each new key twice on insertion). Never changed once made.
  static const Json::Value kEmptyRecord = makeEmptyRecord();
  return kEmptyRecord;
}

}  // namespace orva_vcard
