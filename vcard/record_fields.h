// Reading a page's record safely and writing its texts on a card line. The
// record may hold anything, so a member of an unexpected JSON type reads as
// absent, and no jsoncpp conversion that could throw is ever made.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace orva_vcard {

// The member of an object, or nullptr when the holder is no object or lacks it.
const Json::Value* memberOf(const Json::Value& holder, const char* key);

// An array member, or nullptr when it is absent or of another type.
const Json::Value* arrayOf(const Json::Value& holder, const char* key);

// A text member's bytes; anything but a JSON string reads as the empty text.
std::string_view textOf(const Json::Value* value);
std::string_view textOf(const Json::Value& holder, const char* key);

// True for a property or group name: letters, digits and '-', not empty.
bool isName(std::string_view text);

// A parameter as a card may hold it: name[=value[,value]*], each value quoted
// or free of '"', ';', ':' and ',', and no control character anywhere.
bool isWritableParameter(std::string_view parameter);

// Each string of the holder's "params" that a card can hold, as
// ";<parameter>", as the server keeps it (appendServedParameter). Others
// (which no card read could have given) are left out rather than let them
// break the line.
void appendParameters(std::string& out, const Json::Value& holder);

// Appends the record's "tel", "mail", "adr" and "url" entries, one line each.
void appendEntries(std::string& out, const Json::Value& record);

}  // namespace orva_vcard
