// The vCard writer: a contact record from the page into the vCard 3.0 text
// that the contact store keeps.
#pragma once

#include <json/value.h>

#include <string>

namespace orva_vcard {

// The card text of a record. A non-empty "id" opens it with the fixed header
// and "UID:<id>", an empty one with the record's own "other" lines. Then FN
// (from the name; when family, given and additional name are all empty, the
// record's "formatted_name", else the organisation), N with prefix and suffix,
// ORG, TITLE, BDAY, the EMAIL, TEL, ADR and URL entries (with their group,
// types and other parameters), NOTE and END. No value can break or add a
// line: each line break in it is written as "\n". Members of unexpected JSON
// types read as absent; the record is never changed.
std::string writeCard(const Json::Value& record);

// Free address text for the street component: leading spaces dropped and
// every backslash doubled, up to the first NUL.
std::string formulateText(const char* text);

}  // namespace orva_vcard
