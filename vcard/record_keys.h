// Member keys of a contact record, as static strings of the module: jsoncpp
// neither copies nor frees such a key, which saves two allocations per
// member of every record read. The host keeps the module loaded until an
// answer holding them has been written.
#pragma once

#include <json/value.h>

namespace orva_vcard {

inline const Json::StaticString kName("name");
inline const Json::StaticString kFamilyName("family_name");
inline const Json::StaticString kGivenName("given_name");
inline const Json::StaticString kAdditionalName("additional_name");
inline const Json::StaticString kPrefix("prefix");
inline const Json::StaticString kSuffix("suffix");
inline const Json::StaticString kFormattedName("formatted_name");
inline const Json::StaticString kCompany("company");
inline const Json::StaticString kOrg("org");
inline const Json::StaticString kTitle("title");
inline const Json::StaticString kBday("bday");
inline const Json::StaticString kNote("note");
inline const Json::StaticString kOther("other");
inline const Json::StaticString kTel("tel");
inline const Json::StaticString kMail("mail");
inline const Json::StaticString kAdr("adr");
inline const Json::StaticString kUrl("url");
inline const Json::StaticString kCustName("cust_name");
inline const Json::StaticString kData("data");
inline const Json::StaticString kKey("key");
inline const Json::StaticString kType("type");
inline const Json::StaticString kParams("params");
inline const Json::StaticString kFieldLines("field_lines");
inline const Json::StaticString kGroup("group");

}  // namespace orva_vcard
