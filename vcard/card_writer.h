// The vCard writer: a contact record from the page into the vCard 3.0 text
// that the contact store keeps.
#pragma once

#include <json/value.h>

#include <string>

namespace orva_vcard {

// The card text of a record. A non-empty "id" opens it with the fixed header
// and "UID:<id>", an empty one with the record's own "other" lines. Then FN
// (the name's "formatted_name"; when it is empty, family, given and
// additional name joined by single blanks, else the organisation), N with
// prefix and suffix, ORG, TITLE, BDAY, the EMAIL, TEL, ADR and URL entries
// (with their group, types and other parameters), NOTE and END. Single-line
// fields keep the group and parameters of "field_lines", and repeats of ORG,
// TITLE, BDAY and NOTE found in "other" follow their field. Text values are
// escaped as vCard wants (text_escape.h), idempotently, so a record read from
// any card writes the same value back. No value can break or add a line.
// Members of unexpected JSON types read as absent; the record is never
// changed.
std::string writeCard(const Json::Value& record);

}  // namespace orva_vcard
