// vCard writer: a contact record from the page becomes the vCard 3.0 text
// that the contact store keeps.
//
// The record comes from the web page and may hold anything, so every member is
// read through the accessors below: a member of an unexpected JSON type reads
// as absent, and no jsoncpp conversion that could throw is ever made.
#include <json/value.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "module/webapi-ContactAndCalendar.h"

namespace {

constexpr const char* kHeader = "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODUCTID:-//Orvanta//HOX//EN\r\n";
constexpr const char* kCrLf = "\r\n";

// The member of an object, or nullptr when the holder is no object or lacks it.
const Json::Value* memberOf(const Json::Value& holder, const char* key) {
  if (!holder.isObject()) return nullptr;
  return holder.find(key, key + std::strlen(key));
}

// A text member's bytes; anything but a JSON string reads as the empty text.
struct Text {
  const char* begin = nullptr;
  const char* end = nullptr;
  bool empty() const { return begin == end; }
  std::size_t size() const { return static_cast<std::size_t>(end - begin); }
};

Text textOf(const Json::Value* value) {
  Text text;
  if (value == nullptr || !value->isString() || !value->getString(&text.begin, &text.end)) {
    return Text();
  }
  return text;
}

Text textOf(const Json::Value& holder, const char* key) { return textOf(memberOf(holder, key)); }

// An array member, or nullptr when it is absent or of another type.
const Json::Value* arrayOf(const Json::Value& holder, const char* key) {
  const Json::Value* value = memberOf(holder, key);
  return value != nullptr && value->isArray() ? value : nullptr;
}

// Appends a value on the current line. A line break in it would start a line
// of its own (and could close the card early), so each CR LF, lone CR or lone
// LF is written as the vCard escape "\n".
void appendValue(std::string& out, const char* begin, const char* end) {
  const char* run = begin;
  for (const char* p = begin; p != end; ++p) {
    if (*p != '\r' && *p != '\n') continue;
    out.append(run, p);
    out += "\\n";
    if (*p == '\r' && p + 1 != end && p[1] == '\n') ++p;
    run = p + 1;
  }
  out.append(run, end);
}

void appendValue(std::string& out, const Text& text) { appendValue(out, text.begin, text.end); }

void appendValue(std::string& out, const std::string& text) {
  appendValue(out, text.data(), text.data() + text.size());
}

// Each string of the entry's "type" array as ";type=<value>"; other elements
// carry no type and are skipped.
void appendTypes(std::string& out, const Json::Value& entry) {
  const Json::Value* types = arrayOf(entry, "type");
  if (types == nullptr) return;
  for (const Json::Value& type : *types) {
    if (!type.isString()) continue;
    out += ";type=";
    appendValue(out, textOf(&type));
  }
}

// One line per object element of the array member key: name, types, ':',
// data. Elements that are not objects are no entries and write nothing.
void appendEntries(std::string& out, const Json::Value& record, const char* key, const char* name) {
  const Json::Value* entries = arrayOf(record, key);
  if (entries == nullptr) return;
  for (const Json::Value& entry : *entries) {
    if (!entry.isObject()) continue;
    out += name;
    appendTypes(out, entry);
    out += ':';
    appendValue(out, textOf(entry, "data"));
    out += kCrLf;
  }
}

}  // namespace

std::string ContactAndCalendarHandler::setCardContent(Json::Value record) {
  const Json::Value* nameMember = memberOf(record, "name");
  const Json::Value& name = nameMember != nullptr ? *nameMember : Json::Value::nullSingleton();
  const Json::Value* companyMember = memberOf(record, "company");
  const Json::Value& company =
      companyMember != nullptr ? *companyMember : Json::Value::nullSingleton();

  const Text id = textOf(record, "id");
  const Text other = textOf(record, "other");
  const Text family = textOf(name, "family_name");
  const Text given = textOf(name, "given_name");
  const Text additional = textOf(name, "additional_name");
  const Text org = textOf(company, "org");
  const Text title = textOf(company, "title");
  const Text note = textOf(record, "note");

  std::string out;
  out.reserve(256 + other.size() + note.size());

  if (!id.empty()) {
    out += kHeader;
    out += "UID:";
    appendValue(out, id);
    out += kCrLf;
  } else {
    // The card's own header and every line the reader did not map.
    out.append(other.begin, other.end);
  }

  out += "FN:";
  appendValue(out, family);
  out += ' ';
  appendValue(out, given);
  out += ' ';
  appendValue(out, additional);
  out += kCrLf;

  out += "N:";
  appendValue(out, family);
  out += ';';
  appendValue(out, given);
  out += ';';
  appendValue(out, additional);
  out += ";;\r\n";

  if (!org.empty()) {
    out += "ORG:";
    appendValue(out, org);
    out += kCrLf;
  }
  if (!title.empty()) {
    out += "TITLE:";
    appendValue(out, title);
    out += kCrLf;
  }

  appendEntries(out, record, "mail", "EMAIL");
  appendEntries(out, record, "tel", "TEL");

  if (const Json::Value* addresses = arrayOf(record, "adr")) {
    for (const Json::Value& entry : *addresses) {
      if (!entry.isObject()) continue;
      out += "ADR";
      appendTypes(out, entry);
      out += ":;;";
      // formulateStr reads up to a NUL, as it does for imported lines.
      const Text data = textOf(entry, "data");
      const std::string street(data.begin, data.end);
      appendValue(out, formulateStr(street.c_str()));
      out += ";;;;\r\n";
    }
  }

  appendEntries(out, record, "url", "URL");

  out += "NOTE:";
  appendValue(out, note);
  out += kCrLf;
  out += "END:VCARD\r\n";
  return out;
}

std::string ContactAndCalendarHandler::formulateStr(const char* text) {
  std::string out;
  if (text == nullptr) return out;
  while (*text == ' ') ++text;
  out.reserve(std::strlen(text));
  for (; *text != '\0'; ++text) {
    if (*text == '\\') out += '\\';
    out += *text;
  }
  return out;
}
