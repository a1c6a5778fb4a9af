// The vCard reader: one stored card's text into a contact record. A line
// scanner by property name, not a full vCard parser: what it does not map is
// kept, line by line, in the record's "other" text so that writing the record
// back loses nothing. Every function keeps its scan state in its own call.
#pragma once

#include <json/value.h>

#include <string_view>

#include "vcard/content_line.h"

namespace orva_vcard {

// Label pass: for every grouped X-ABLabel or X-ABADR line (name in any letter
// case), sets labelTable[group] to its label, the word between '<' and '>'
// when the value holds both ("_$!<Mobile>!$_" gives "Mobile").
void readLabels(std::string_view cardText, Json::Value& labelTable);

// Text pass: replaces record with the card's contact record. Folded lines are
// joined first; the pass ends at the END line. Grouped TEL, EMAIL, ADR and URL
// entries take their "cust_name" from labelTable.
void readCardText(std::string_view cardText, const Json::Value& labelTable, Json::Value& record);

// The record every card starts from: "name" and "company" with empty texts,
// empty "tel" and "mail", an empty "note".
const Json::Value& emptyRecord();

// An N value into record["name"]: family, given and additional name, and the
// prefix and suffix when they are not empty (the suffix being everything after
// the fourth ';'). Every ';' that no backslash escapes separates; the
// components keep their escapes as the card spells them.
// Returns true when family, given or additional name is not empty.
bool readNameValue(std::string_view value, Json::Value& record);
// The same into the record's "name" itself.
bool readNameInto(std::string_view value, Json::Value& name);
// The same into a name that holds nothing but the given family, given and
// additional name members (as the empty record's does).
bool readFreshName(std::string_view value, Json::Value& name, Json::Value& family,
                   Json::Value& given, Json::Value& additional);

enum class EntryKind { kTel, kEmail, kAdr, kUrl };

// One TEL, EMAIL, ADR or URL line into a property entry appended to the
// record's "tel", "mail", "adr" or "url". The entry's "data" is the whole
// value, its "type" the listed TYPE values and its "params" every other
// parameter as written. Returns false, appending nothing, when the line has
// no value.
bool readEntry(EntryKind kind, std::string_view line, const Json::Value& labelTable,
               Json::Value& record);
// The same for a line already split, appending to entries, the record's
// array for that kind.
bool readEntryInto(EntryKind kind, const ContentLine& content, const Json::Value& labelTable,
                   Json::Value& entries);

// The member of record that holds entries of that kind ("tel", "mail",
// "adr", "url").
const char* entryMember(EntryKind kind);

}  // namespace orva_vcard
