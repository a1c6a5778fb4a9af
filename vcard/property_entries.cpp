// TEL, EMAIL, ADR and URL lines into property entries of the record.
#include <string>
#include <utility>

#include "vcard/card_reader.h"
#include "vcard/content_line.h"
#include "vcard/json_text.h"
#include "vcard/record_keys.h"

namespace orva_vcard {

namespace {

struct EntryTarget {
  const char* member;       // the record's array
  const char* defaultName;  // "cust_name" of an ungrouped entry
};

EntryTarget targetOf(EntryKind kind) {
  switch (kind) {
    case EntryKind::kTel:
      return {"tel", "TEL"};
    case EntryKind::kEmail:
      return {"mail", "EMAIL"};
    case EntryKind::kAdr:
      return {"adr", "ADR"};
    case EntryKind::kUrl:
      break;
  }
  return {"url", "URL"};
}

// A new entry holding "cust_name", "data" and "key", to be filled in.
Json::Value entryShape() {
  // Copied rather than built: see emptyRecord. Never changed once made.
  static const Json::Value kShape = [] {
    // readEntryInto relies on exactly these three members, in this order.
    Json::Value shape(Json::objectValue);
    shape[kCustName] = Json::Value();
    shape[kData] = Json::Value();
    shape[kKey] = Json::Value();
    return shape;
  }();
  return kShape;
}

// A type value as a JSON string. The values exporters write on nearly every
// entry are static strings of the module (no allocation, nothing to free);
// they are compared byte for byte, so every value keeps its own spelling.
Json::Value typeText(std::string_view value) {
  // string_views of literals: sizes compared first, and each NUL-terminated.
  static constexpr std::string_view kCommon[] = {
      "CELL", "HOME",  "WORK", "VOICE", "INTERNET", "pref", "PREF",  "FAX",   "OTHER", "MAIN",
      "cell", "home",  "work", "voice", "internet", "fax",  "other", "main",  "PAGER", "IPHONE",
      "Cell", "Home",  "Work", "Voice", "Internet", "Pref", "Fax",   "Other", "Main",  "X400",
      "TEXT", "VIDEO", "text", "video", "x-mobile", "BBS",  "MODEM", "CAR",   "ISDN",  "PCS"};
  for (const std::string_view common : kCommon) {
    if (value == common) return Json::Value(Json::StaticString(common.data()));
  }
  return jsonText(value);
}

}  // namespace

const char* entryMember(EntryKind kind) { return targetOf(kind).member; }

bool readEntry(EntryKind kind, std::string_view line, const Json::Value& labelTable,
               Json::Value& record) {
  const ContentLine content = splitContentLine(line);
  if (!content.hasValue || content.value.empty()) return false;
  return readEntryInto(kind, content, labelTable, record[Json::StaticString(entryMember(kind))]);
}

bool readEntryInto(EntryKind kind, const ContentLine& content, const Json::Value& labelTable,
                   Json::Value& entries) {
  if (!content.hasValue || content.value.empty()) return false;
  const EntryTarget target = targetOf(kind);

  Json::Value entry = entryShape();
  // The shape's members in key order, reached without three lookups.
  Json::Value::iterator member = entry.begin();
  Json::Value& custName = *member;
  Json::Value& data = *++member;
  Json::Value& key = *++member;
  data = jsonText(content.value);
  // The common spellings are static strings of the module: no allocation.
  key = content.group.empty() && content.name == target.defaultName
            ? Json::Value(Json::StaticString(target.defaultName))
            : jsonText(content.groupedName);
  if (content.group.empty()) {
    custName = Json::StaticString(target.defaultName);
  } else if (labelTable.isObject()) {
    const std::string_view group = content.group;
    if (const Json::Value* label = labelTable.find(group.data(), group.data() + group.size())) {
      custName = *label;
    }
  }

  Json::Value types;
  Json::Value params;
  std::string type;
  forEachParameter(content.parameters, [&](std::string_view parameter) {
    if (!isTypeParameter(parameter)) {
      params.append(jsonText(parameter));
      return;
    }
    forEachTypeValue(parameter, [&](std::string_view value, bool quoted) {
      if (!quoted) {
        types.append(typeText(value));
        return;
      }
      type.clear();
      appendUnquoted(type, value);
      types.append(Json::Value(type));
    });
  });
  if (!types.isNull()) entry[kType] = std::move(types);
  if (!params.isNull()) entry[kParams] = std::move(params);

  if (!entries.isArray()) entries = Json::Value(Json::arrayValue);
  entries.append(std::move(entry));
  return true;
}

}  // namespace orva_vcard
