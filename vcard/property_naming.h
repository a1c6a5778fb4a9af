// Naming of a property entry, shared by the TEL, EMAIL, URL and ADR readers.
#pragma once

#include <json/value.h>

namespace orva_vcard {

// True when the token begins with "type=", letters compared without regard
// to case (ASCII only, whatever the locale).
bool isTypeParameter(const char* token);

// Sets the entry's "key" to the property name token and its "cust_name": for
// a grouped name (item1.TEL) the label that labelTable holds for the group,
// or null when it holds none; for an ungrouped name, defaultName.
void nameEntry(Json::Value& entry, const char* key, const Json::Value& labelTable,
               const char* defaultName);

// A new entry holding "cust_name", "data" and "key" (null), for nameEntry
// and the value to fill in.
Json::Value namedEntryShape();

// Appends the text after "type=" to types, the entry's future "type" array.
void addType(Json::Value& types, const char* typeToken);

}  // namespace orva_vcard
