// vCard writer: the record's own lines or a fresh header, then the fields.
#include "vcard/card_writer.h"

#include "vcard/property_name.h"
#include "vcard/record_fields.h"
#include "vcard/served_line.h"
#include "vcard/text_escape.h"

namespace orva_vcard {

namespace {

constexpr const char* kHeader = "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODUCTID:-//Orvanta//HOX//EN\r\n";
constexpr const char* kCrLf = "\r\n";

const Json::Value& objectOf(const Json::Value& record, const char* key) {
  const Json::Value* member = memberOf(record, key);
  return member != nullptr ? *member : Json::Value::nullSingleton();
}

// The single-line fields that a card may repeat. The reader shows the first
// and keeps later ones in "other"; the writer puts those back right after
// the field, so that the first stays first after any edit.
enum RepeatedField { kOrgField, kTitleField, kBdayField, kNoteField, kRepeatedFields };

// "other" with the repeats of the fields above taken out, by field.
struct OtherLines {
  std::string kept;
  std::string repeats[kRepeatedFields];
};

int repeatedFieldOf(std::string_view line) {
  std::size_t end = 0;
  while (end < line.size() && line[end] != ';' && line[end] != ':') ++end;
  std::string_view name = line.substr(0, end);
  const std::size_t dot = name.find('.');
  if (dot != std::string_view::npos) name = name.substr(dot + 1);
  if (nameIs(name, "ORG")) return kOrgField;
  if (nameIs(name, "TITLE")) return kTitleField;
  if (nameIs(name, "BDAY")) return kBdayField;
  if (nameIs(name, "NOTE")) return kNoteField;
  return kRepeatedFields;
}

OtherLines splitOther(std::string_view other) {
  OtherLines lines;
  lines.kept.reserve(other.size());
  std::string* target = &lines.kept;
  std::size_t start = 0;
  while (start < other.size()) {
    const std::size_t crlf = other.find("\r\n", start);
    // A last piece without CR LF stays where it stands.
    const std::size_t end = crlf == std::string_view::npos ? other.size() : crlf + 2;
    const std::string_view line = other.substr(start, end - start);
    // A folded continuation goes with the line it continues.
    if (line[0] != ' ' && line[0] != '\t') {
      const int field = crlf == std::string_view::npos ? kRepeatedFields : repeatedFieldOf(line);
      target = field == kRepeatedFields ? &lines.kept : &lines.repeats[field];
    }
    target->append(line.data(), line.size());
    start = end;
  }
  return lines;
}

// "[group.]NAME[;param]*:" of a single-line field, with the group and
// parameters the card gave it ("field_lines").
void appendLineHead(std::string& out, const Json::Value& record, const char* field,
                    const char* name) {
  const Json::Value& head = objectOf(objectOf(record, "field_lines"), field);
  const std::string_view group = textOf(head, "group");
  if (isName(group)) {
    out.append(group.data(), group.size());
    out += '.';
  }
  out += name;
  appendParameters(out, head);
  out += ':';
}

// The organisation's name: ORG's first component, up to a ';' that is not
// escaped.
std::string_view organisationName(std::string_view org) {
  return org.substr(0, componentEnd(org, 0));
}

// The name parts joined by single blanks, with no blank at either end.
std::string joinedName(const Json::Value& name) {
  std::string joined;
  for (const char* key : {"family_name", "given_name", "additional_name"}) {
    for (char c : textOf(name, key)) {
      if (c == ' ' && (joined.empty() || joined.back() == ' ')) continue;
      joined += c;
    }
    if (!joined.empty() && joined.back() != ' ') joined += ' ';
  }
  while (!joined.empty() && joined.back() == ' ') joined.pop_back();
  return joined;
}

void appendFormattedName(std::string& out, const Json::Value& record) {
  const Json::Value& name = objectOf(record, "name");
  appendLineHead(out, record, "formatted_name", "FN");
  // The card's own display name; else one made of the name parts, else the
  // organisation, so that a company's only name is not lost.
  const std::string_view own = textOf(name, "formatted_name");
  if (!own.empty()) {
    appendEscaped(out, own);
  } else {
    const std::string joined = joinedName(name);
    appendEscaped(out, !joined.empty()
                           ? std::string_view(joined)
                           : organisationName(textOf(objectOf(record, "company"), "org")));
  }
  out += kCrLf;
}

void appendStructuredName(std::string& out, const Json::Value& record) {
  const Json::Value& name = objectOf(record, "name");
  appendLineHead(out, record, "name", "N");
  appendEscaped(out, textOf(name, "family_name"));
  out += ';';
  appendEscaped(out, textOf(name, "given_name"));
  out += ';';
  appendEscaped(out, textOf(name, "additional_name"));
  out += ';';
  appendEscaped(out, textOf(name, "prefix"));
  out += ';';
  // The suffix also holds any components after it: their ';' is escaped,
  // as the server keeps only five components.
  appendEscaped(out, textOf(name, "suffix"));
  out += kCrLf;
}

// ORG without empty units at its end ("Acme;;" reads as "Acme"): the reader
// takes one closing ';' off, so writing them would lose one at every edit.
std::string_view withoutEmptyLastUnits(std::string_view org) {
  while (!org.empty() && org.back() == ';') {
    std::size_t slashes = 0;
    while (slashes + 1 < org.size() && org[org.size() - 2 - slashes] == '\\') ++slashes;
    if (slashes % 2 != 0) break;  // an escaped ';' is text
    org.remove_suffix(1);
  }
  return org;
}

// A single-line field (when its value is not empty, unless always is set),
// then the card's repeats of it.
void appendField(std::string& out, const Json::Value& record, const char* field, const char* name,
                 std::string_view value, TextSeparators separators, const std::string& repeats,
                 bool always = false) {
  if (always || !value.empty()) {
    appendLineHead(out, record, field, name);
    appendEscaped(out, value, separators);
    out += kCrLf;
  }
  appendServedLines(out, repeats);
}

}  // namespace

std::string writeCard(const Json::Value& record) {
  const std::string_view id = textOf(record, "id");
  const Json::Value& company = objectOf(record, "company");
  const OtherLines other = splitOther(textOf(record, "other"));
  const std::string_view note = textOf(record, "note");

  std::string out;
  out.reserve(256 + other.kept.size() + note.size());
  if (!id.empty()) {
    out += kHeader;
    out += "UID:";
    appendWithEscapedLineBreaks(out, id);
    out += kCrLf;
  } else {
    // The card's own header and every line the reader did not map, mended
    // where the server would serve it otherwise.
    appendServedLines(out, other.kept);
  }

  appendFormattedName(out, record);
  appendStructuredName(out, record);
  appendField(out, record, "org", "ORG", withoutEmptyLastUnits(textOf(company, "org")),
              TextSeparators::kComponents, other.repeats[kOrgField]);
  appendField(out, record, "title", "TITLE", textOf(company, "title"), TextSeparators::kNone,
              other.repeats[kTitleField]);
  appendField(out, record, "bday", "BDAY", textOf(record, "bday"), TextSeparators::kNone,
              other.repeats[kBdayField]);
  appendEntries(out, record);
  appendField(out, record, "note", "NOTE", note, TextSeparators::kNote, other.repeats[kNoteField],
              true);
  out += "END:VCARD\r\n";
  return out;
}

}  // namespace orva_vcard
