// The record a card starts from: every member the page always expects.
#include "vcard/card_reader.h"
#include "vcard/record_keys.h"

namespace orva_vcard {

namespace {

// The text pass reaches these members by their key order (membersOf in
// text_pass.cpp): a member added here must be added there too.
Json::Value makeEmptyRecord() {
  // An empty string made from the type needs no allocation, nor do its copies.
  const Json::Value empty(Json::stringValue);
  Json::Value record(Json::objectValue);
  Json::Value& name = record[kName];
  name[kFamilyName] = empty;
  name[kGivenName] = empty;
  name[kAdditionalName] = empty;
  Json::Value& company = record[kCompany];
  company[kOrg] = empty;
  company[kTitle] = empty;
  record[kTel] = Json::Value(Json::arrayValue);
  record[kMail] = Json::Value(Json::arrayValue);
  record[kNote] = empty;
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
