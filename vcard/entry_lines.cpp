// The EMAIL, TEL, ADR and URL lines of a record's property entries: group,
// types, other parameters and value, each written so that the card's line
// structure holds whatever the page sent.
#include <string>

#include "vcard/card_writer.h"
#include "vcard/property_name.h"
#include "vcard/record_fields.h"
#include "vcard/served_line.h"
#include "vcard/text_escape.h"

namespace orva_vcard {

namespace {

bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

bool isName(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!isNameChar(c)) return false;
  }
  return true;
}

namespace {

bool isControl(char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F; }

// "item1." for an entry whose "key" is item1.NAME, NAME being the entry's own
// property in any case: the group ties the entry to its label lines.
void appendGroup(std::string& out, const Json::Value& entry, std::string_view propertyName) {
  const std::string_view key = textOf(entry, "key");
  const std::size_t dot = key.find('.');
  if (dot == std::string_view::npos) return;
  const std::string_view group = key.substr(0, dot);
  if (!isName(group) || !nameIs(key.substr(dot + 1), propertyName)) return;
  out.append(group.data(), group.size());
  out += '.';
}

// Each string of "type" as ";type=<value>". A value holding ';' or ':' is
// quoted; a '"' cannot stand in a parameter value and is dropped.
void appendTypes(std::string& out, const Json::Value& entry) {
  const Json::Value* types = arrayOf(entry, "type");
  if (types == nullptr) return;
  std::string value;
  for (const Json::Value& type : *types) {
    if (!type.isString()) continue;
    value.clear();
    for (char c : textOf(&type)) {
      if (c != '"') value.push_back(c);
    }
    // The server drops an empty parameter value.
    if (value.empty()) continue;
    const bool quote = value.find_first_of(";:") != std::string::npos;
    out += ";type=";
    if (quote) out += '"';
    appendWithEscapedLineBreaks(out, value);
    if (quote) out += '"';
  }
}

}  // namespace

bool isWritableParameter(std::string_view parameter) {
  const std::size_t equals = parameter.find('=');
  if (!isName(parameter.substr(0, equals))) return false;
  if (equals == std::string_view::npos) return true;
  std::size_t i = equals + 1;
  while (true) {
    if (i < parameter.size() && parameter[i] == '"') {
      const std::size_t close = parameter.find('"', i + 1);
      if (close == std::string_view::npos) return false;
      for (std::size_t j = i + 1; j < close; ++j) {
        if (isControl(parameter[j])) return false;
      }
      i = close + 1;
    } else {
      for (; i < parameter.size() && parameter[i] != ','; ++i) {
        const char c = parameter[i];
        if (c == '"' || c == ';' || c == ':' || isControl(c)) return false;
      }
    }
    if (i == parameter.size()) return true;
    if (parameter[i] != ',') return false;
    ++i;
  }
}

void appendParameters(std::string& out, const Json::Value& entry) {
  const Json::Value* params = arrayOf(entry, "params");
  if (params == nullptr) return;
  for (const Json::Value& param : *params) {
    const std::string_view text = textOf(&param);
    if (!param.isString() || !isWritableParameter(text)) continue;
    const std::size_t before = out.size();
    out += ';';
    if (!appendServedParameter(out, text)) out.resize(before);
  }
}

namespace {

// An address that holds ';' is the structured value as the card spells it;
// free text from a page goes into the street component.
void appendAddressValue(std::string& out, std::string_view data) {
  if (data.find(';') != std::string_view::npos) {
    // Seven components at most: the server drops any beyond.
    appendComponents(out, data, 7);
    return;
  }
  // formulateText reads up to a NUL, as it does for imported lines.
  const std::string street(data);
  std::string value = ";;";
  appendWithEscapedLineBreaks(value, formulateText(street.c_str()));
  value += ";;;;";
  // Its bare ',' escaped as a structured value's are, so that the card reads
  // back as the same components and a second edit writes the same bytes.
  appendComponents(out, value, 7);
}

void appendEntryLines(std::string& out, const Json::Value& record, const char* key,
                      std::string_view name) {
  const Json::Value* entries = arrayOf(record, key);
  if (entries == nullptr) return;
  const bool address = name == "ADR";
  for (const Json::Value& entry : *entries) {
    if (!entry.isObject()) continue;
    appendGroup(out, entry, name);
    out.append(name.data(), name.size());
    appendTypes(out, entry);
    appendParameters(out, entry);
    out += ':';
    if (address) {
      appendAddressValue(out, textOf(entry, "data"));
    } else {
      // One text for the server, which cuts a value at a bare ','.
      const std::string_view data = textOf(entry, "data");
      if (data.find_first_of("\r\n") == std::string_view::npos) {
        appendServedText(out, data, TextShape::kSingle);
      } else {
        std::string oneLine;
        appendWithEscapedLineBreaks(oneLine, data);
        appendServedText(out, oneLine, TextShape::kSingle);
      }
    }
    out += "\r\n";
  }
}

}  // namespace

void appendEntries(std::string& out, const Json::Value& record) {
  appendEntryLines(out, record, "mail", "EMAIL");
  appendEntryLines(out, record, "tel", "TEL");
  appendEntryLines(out, record, "adr", "ADR");
  appendEntryLines(out, record, "url", "URL");
}

}  // namespace orva_vcard
