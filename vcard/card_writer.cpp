// vCard writer: the record's own lines or a fresh header, then the fields.
#include "vcard/card_writer.h"

#include <cstring>

#include "vcard/record_fields.h"

namespace orva_vcard {

namespace {

constexpr const char* kHeader = "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODUCTID:-//Orvanta//HOX//EN\r\n";
constexpr const char* kCrLf = "\r\n";

const Json::Value& objectOf(const Json::Value& record, const char* key) {
  const Json::Value* member = memberOf(record, key);
  return member != nullptr ? *member : Json::Value::nullSingleton();
}

// The organisation's name: ORG's first component, up to a ';' that is not
// escaped.
std::string_view organisationName(std::string_view org) {
  for (std::size_t i = 0; i < org.size(); ++i) {
    if (org[i] == '\\') {
      ++i;
    } else if (org[i] == ';') {
      return org.substr(0, i);
    }
  }
  return org;
}

void appendFormattedName(std::string& out, const Json::Value& record) {
  const Json::Value& name = objectOf(record, "name");
  const std::string_view family = textOf(name, "family_name");
  const std::string_view given = textOf(name, "given_name");
  const std::string_view additional = textOf(name, "additional_name");
  out += "FN:";
  if (family.empty() && given.empty() && additional.empty()) {
    // A company, or a card with only FN: its only name must not be lost.
    std::string_view own = textOf(name, "formatted_name");
    if (own.empty()) own = organisationName(textOf(objectOf(record, "company"), "org"));
    if (!own.empty()) {
      appendValue(out, own);
      out += kCrLf;
      return;
    }
  }
  appendValue(out, family);
  out += ' ';
  appendValue(out, given);
  out += ' ';
  appendValue(out, additional);
  out += kCrLf;
}

void appendStructuredName(std::string& out, const Json::Value& record) {
  const Json::Value& name = objectOf(record, "name");
  out += "N:";
  appendValue(out, textOf(name, "family_name"));
  out += ';';
  appendValue(out, textOf(name, "given_name"));
  out += ';';
  appendValue(out, textOf(name, "additional_name"));
  out += ';';
  appendValue(out, textOf(name, "prefix"));
  out += ';';
  appendValue(out, textOf(name, "suffix"));
  out += kCrLf;
}

// "<name><value>" CR LF when the value is not empty.
void appendUnlessEmpty(std::string& out, const char* name, std::string_view value) {
  if (value.empty()) return;
  out += name;
  appendValue(out, value);
  out += kCrLf;
}

}  // namespace

std::string writeCard(const Json::Value& record) {
  const std::string_view id = textOf(record, "id");
  const std::string_view other = textOf(record, "other");
  const std::string_view note = textOf(record, "note");
  const Json::Value& company = objectOf(record, "company");

  std::string out;
  out.reserve(256 + other.size() + note.size());
  if (!id.empty()) {
    out += kHeader;
    out += "UID:";
    appendValue(out, id);
    out += kCrLf;
  } else {
    // The card's own header and every line the reader did not map.
    out.append(other.data(), other.size());
  }

  appendFormattedName(out, record);
  appendStructuredName(out, record);
  appendUnlessEmpty(out, "ORG:", textOf(company, "org"));
  appendUnlessEmpty(out, "TITLE:", textOf(company, "title"));
  appendUnlessEmpty(out, "BDAY:", textOf(record, "bday"));
  appendEntries(out, record);

  out += "NOTE:";
  appendValue(out, note);
  out += kCrLf;
  out += "END:VCARD\r\n";
  return out;
}

std::string formulateText(const char* text) {
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

}  // namespace orva_vcard
