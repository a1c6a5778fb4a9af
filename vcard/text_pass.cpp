// Text pass: one card's lines into a contact record. Each line is recognised
// by its property name (any letter case, with or without group and
// parameters); what no rule maps is kept verbatim in "other" for writing back.
#include <stdexcept>
#include <string>
#include <vector>

#include "vcard/card_lines.h"
#include "vcard/card_reader.h"
#include "vcard/content_line.h"
#include "vcard/json_text.h"
#include "vcard/note_text.h"
#include "vcard/property_name.h"
#include "vcard/record_keys.h"

namespace orva_vcard {

namespace {

enum class Property { kFn, kNote, kTitle, kOrg, kBday, kN, kEmail, kTel, kAdr, kUrl, kOther };

Property propertyOf(std::string_view name) {
  switch (name.size()) {
    case 1:
      return nameIs(name, "N") ? Property::kN : Property::kOther;
    case 2:
      return nameIs(name, "FN") ? Property::kFn : Property::kOther;
    case 3:
      if (nameIs(name, "TEL")) return Property::kTel;
      if (nameIs(name, "ADR")) return Property::kAdr;
      if (nameIs(name, "URL")) return Property::kUrl;
      if (nameIs(name, "ORG")) return Property::kOrg;
      return Property::kOther;
    case 4:
      if (nameIs(name, "NOTE")) return Property::kNote;
      if (nameIs(name, "BDAY")) return Property::kBday;
      return Property::kOther;
    case 5:
      if (nameIs(name, "EMAIL")) return Property::kEmail;
      if (nameIs(name, "TITLE")) return Property::kTitle;
      return Property::kOther;
    default:
      return Property::kOther;
  }
}

EntryKind entryKindOf(Property property) {
  switch (property) {
    case Property::kEmail:
      return EntryKind::kEmail;
    case Property::kAdr:
      return EntryKind::kAdr;
    case Property::kUrl:
      return EntryKind::kUrl;
    default:
      return EntryKind::kTel;
  }
}

// The END line (in any letter case), or a bare line beginning with "END" as
// cards stored long ago end. A property whose name merely begins with those
// letters ends nothing: stopping there would lose the rest of the card.
bool endsCard(std::string_view line, const ContentLine& content) {
  if (!content.hasValue && line.compare(0, 3, "END") == 0) return true;
  return nameIs(content.name, "END");
}

void appendOther(std::string& other, std::string_view line) {
  other.append(line.data(), line.size());
  other.push_back('\r');
  other.push_back('\n');
}

constexpr std::size_t kOtherRoom = 1000;

// Joins a continuation line to the last address; false when there is none.
bool joinAddress(Json::Value* addresses, std::string_view line) {
  if (addresses == nullptr || !addresses->isArray() || addresses->empty()) return false;
  Json::Value& data = (*addresses)[addresses->size() - 1][kData];
  std::string joined = data.isString() ? data.asString() : std::string();
  joined.push_back(' ');
  joined.append(line.data(), line.size());
  data = joined;
  return true;
}

// The record a card's reading starts from: the empty record and an empty
// "other", which every read record holds. Made once, never changed; copying
// it costs far less than inserting its members one by one.
const Json::Value& startRecord() {
  static const Json::Value kStart = [] {
    Json::Value record = emptyRecord();
    record[kOther] = Json::Value(Json::stringValue);
    // membersOf walks the members by position: a member added to the empty
    // record without it would fill the wrong ones.
    const std::vector<std::string> expected = {"company", "mail", "name", "note", "other", "tel"};
    if (record.getMemberNames() != expected ||
        record[kCompany].getMemberNames() != std::vector<std::string>{"org", "title"} ||
        record[kName].getMemberNames() !=
            std::vector<std::string>{"additional_name", "family_name", "given_name"}) {
      throw std::logic_error("the start record's members are not those the text pass walks");
    }
    return record;
  }();
  return kStart;
}

// The start record's members, reached in key order without lookups.
struct RecordMembers {
  Json::Value* org;    // in "company"
  Json::Value* title;  // in "company"
  Json::Value* mail;
  Json::Value* name;
  Json::Value* additionalName;  // in "name"
  Json::Value* familyName;      // in "name"
  Json::Value* givenName;       // in "name"
  Json::Value* note;
  Json::Value* other;
  Json::Value* tel;
};

RecordMembers membersOf(Json::Value& record) {
  Json::Value::iterator member = record.begin();
  RecordMembers members{};
  Json::Value::iterator companyMember = member->begin();
  members.org = &*companyMember;
  members.title = &*++companyMember;
  members.mail = &*++member;
  members.name = &*++member;
  Json::Value::iterator nameMember = member->begin();
  members.additionalName = &*nameMember;
  members.familyName = &*++nameMember;
  members.givenName = &*++nameMember;
  members.note = &*++member;
  members.other = &*++member;
  members.tel = &*++member;
  return members;
}

// A value in a transfer encoding (vCard 2.1 quoted-printable) means something
// else once its parameters are dropped, so such a line is kept as it stands.
bool hasEncoding(std::string_view parameters) {
  bool found = false;
  forEachParameter(parameters, [&](std::string_view parameter) {
    found = found || nameIs(parameterName(parameter), "ENCODING");
  });
  return found;
}

// The member of "field_lines" that keeps a single-line field's group and
// parameters.
const char* fieldLineKey(Property property) {
  switch (property) {
    case Property::kFn:
      return "formatted_name";
    case Property::kN:
      return "name";
    case Property::kOrg:
      return "org";
    case Property::kTitle:
      return "title";
    case Property::kBday:
      return "bday";
    default:
      return "note";
  }
}

// A field's own group and parameters (BDAY;VALUE=date, WORK.ORG,
// TITLE;LANGUAGE=de) kept so that writing the record back keeps them.
void keepLineHead(Json::Value& record, Property property, const ContentLine& content) {
  if (content.group.empty() && content.parameters.empty()) return;
  Json::Value head(Json::objectValue);
  if (!content.group.empty()) setJsonText(head[kGroup], content.group);
  Json::Value params(Json::arrayValue);
  forEachParameter(content.parameters,
                   [&](std::string_view parameter) { params.append(jsonText(parameter)); });
  if (!params.empty()) head[kParams] = std::move(params);
  record[kFieldLines][fieldLineKey(property)] = std::move(head);
}

// An ORG value without the one ';' that exporters end a unit-less
// organisation with; an escaped ';' is text and stays.
std::string_view withoutClosingSemicolon(std::string_view value) {
  if (value.empty() || value.back() != ';') return value;
  std::size_t slashes = 0;
  while (slashes + 1 < value.size() && value[value.size() - 2 - slashes] == '\\') ++slashes;
  return slashes % 2 == 0 ? value.substr(0, value.size() - 1) : value;
}

bool isSingleLineField(Property property) {
  return property == Property::kFn || property == Property::kNote || property == Property::kTitle ||
         property == Property::kOrg || property == Property::kBday || property == Property::kN;
}

}  // namespace

void readCardText(std::string_view cardText, const Json::Value& labelTable, Json::Value& record) {
  // Copied in place: no temporary to swap with.
  record.copy(startRecord());
  const RecordMembers members = membersOf(record);
  LineWalker lines(cardText);
  std::string other;
  // Room for what most cards keep at once, in a size the allocator has at
  // hand (sizes that differ card by card cost it far more).
  other.reserve(kOtherRoom);
  std::string note;
  std::string formattedName;
  // The entry arrays by kind; "adr" and "url" are made when first needed.
  Json::Value* entryArrays[4] = {members.tel, members.mail, nullptr, nullptr};
  int lineNumber = 0;
  int noteLine = -1;
  int addressLine = -1;
  // NOTE, TITLE and ORG may stand more than once: the first is the field,
  // later ones are kept in "other" as they are.
  bool noteSeen = false;
  bool titleSeen = false;
  bool orgSeen = false;
  bool bdaySeen = false;
  bool fnSeen = false;
  bool nameSeen = false;

  for (std::string_view line; lines.next(line);) {
    const ContentLine content = splitContentLine(line);
    if (endsCard(line, content)) break;
    ++lineNumber;

    if (!content.hasValue) {
      if (lineNumber - noteLine == 1) {
        // A raw continuation of the note, as cards stored long ago have them.
        note.push_back('\n');
        appendNoteText(note, line.data(), line.size());
        noteLine = lineNumber;
      } else if (lineNumber - addressLine == 1 &&
                 joinAddress(entryArrays[static_cast<int>(EntryKind::kAdr)], line)) {
        addressLine = lineNumber;
      } else {
        appendOther(other, line);
      }
      continue;
    }

    const std::string_view value = content.value;
    Property property = propertyOf(content.name);
    if (isSingleLineField(property) && hasEncoding(content.parameters)) property = Property::kOther;
    switch (property) {
      case Property::kFn:
        // The card's own display name; the writer keeps it. A card may
        // repeat FN (the server takes such cards from clients): the last is
        // the card's own, and every one is taken, so that the card written
        // back holds one.
        fnSeen = true;
        formattedName.assign(value.data(), value.size());
        keepLineHead(record, property, content);
        continue;
      case Property::kNote:
        if (noteSeen) break;
        noteSeen = true;
        keepLineHead(record, property, content);
        note.reserve(value.size());
        appendNoteText(note, value.data(), value.size());
        noteLine = lineNumber;
        continue;
      case Property::kTitle:
        if (titleSeen) break;
        titleSeen = true;
        keepLineHead(record, property, content);
        setJsonText(*members.title, value);
        continue;
      case Property::kOrg:
        if (orgSeen) break;
        orgSeen = true;
        keepLineHead(record, property, content);
        // ORG is structured (org;unit); exporters end a unit-less one in ';'.
        setJsonText(*members.org, withoutClosingSemicolon(value));
        continue;
      case Property::kBday:
        if (bdaySeen) break;
        bdaySeen = true;
        keepLineHead(record, property, content);
        setJsonText(record[kBday], value);
        continue;
      case Property::kN:
        if (!nameSeen) keepLineHead(record, property, content);
        // The first N line finds the start record's name as it was made.
        if (nameSeen) {
          readNameInto(value, *members.name);
        } else {
          readFreshName(value, *members.name, *members.familyName, *members.givenName,
                        *members.additionalName);
        }
        nameSeen = true;
        continue;
      case Property::kEmail:
      case Property::kTel:
      case Property::kAdr:
      case Property::kUrl:
        // A line without a value makes no entry and is kept as it stands.
        if (value.empty()) break;
        {
          const EntryKind kind = entryKindOf(property);
          Json::Value*& entries = entryArrays[static_cast<int>(kind)];
          if (entries == nullptr) entries = &record[Json::StaticString(entryMember(kind))];
          readEntryInto(kind, content, labelTable, *entries);
        }
        if (property == Property::kAdr) addressLine = lineNumber;
        continue;
      case Property::kOther:
        break;
    }
    appendOther(other, line);
  }
  if (!note.empty()) setJsonText(*members.note, note);
  if (!other.empty()) setJsonText(*members.other, other);
  if (fnSeen) setJsonText((*members.name)[kFormattedName], formattedName);
}

}  // namespace orva_vcard
