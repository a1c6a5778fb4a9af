// TEL, EMAIL, ADR and URL lines into property entries of the record.
#include <algorithm>
#include <array>
#include <cstdint>
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

// Entry shapes with room for up to this many type values and other
// parameters; further ones are appended.
constexpr int kShapeTypes = 4;
constexpr int kShapeParams = 2;

// A new entry holding "cust_name", "data" and "key", and "params" and "type"
// arrays of the given sizes (no member when 0), every value null.
Json::Value makeEntryShape(int types, int params) {
  Json::Value shape(Json::objectValue);
  shape[kCustName] = Json::Value();
  shape[kData] = Json::Value();
  shape[kKey] = Json::Value();
  for (int i = 0; i < params; ++i) shape[kParams].append(Json::Value());
  for (int i = 0; i < types; ++i) shape[kType].append(Json::Value());
  return shape;
}

// Copying a finished tree costs far less than building it member by member
// (jsoncpp looks up and copies every new member, and moves swap comments).
// Made once, never changed.
const Json::Value& entryShape(int types, int params) {
  static const auto kShapes = [] {
    std::array<std::array<Json::Value, kShapeParams + 1>, kShapeTypes + 1> shapes;
    for (int t = 0; t <= kShapeTypes; ++t) {
      for (int p = 0; p <= kShapeParams; ++p) shapes[t][p] = makeEntryShape(t, p);
    }
    return shapes;
  }();
  return kShapes[std::min(types, kShapeTypes)][std::min(params, kShapeParams)];
}

// The values exporters write on nearly every entry, as static strings of the
// module (no allocation, nothing to free); compared byte for byte, so every
// value keeps its own spelling.
constexpr const char* kCommonTypes[] = {
    "CELL", "HOME",  "WORK", "VOICE", "INTERNET", "pref", "PREF",  "FAX",   "OTHER", "MAIN",
    "cell", "home",  "work", "voice", "internet", "fax",  "other", "main",  "PAGER", "IPHONE",
    "Cell", "Home",  "Work", "Voice", "Internet", "Pref", "Fax",   "Other", "Main",  "X400",
    "TEXT", "VIDEO", "text", "video", "x-mobile", "BBS",  "MODEM", "CAR",   "ISDN",  "PCS"};
constexpr std::size_t kCommonTypeCount = sizeof(kCommonTypes) / sizeof(kCommonTypes[0]);

// Up to eight bytes and the size in one word, for comparing short values at
// once.
constexpr std::uint64_t packed(std::string_view text) {
  std::uint64_t word = text.size();
  for (std::size_t i = 0; i < text.size() && i < 7; ++i) {
    word |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[i])) << (8 * (i + 1));
  }
  return word;
}

// Sets member to a copy of text, in place: no lookup, no swap of comments.
void setText(Json::Value& member, std::string_view text) {
  Json::Value made = jsonText(text);
  member.swapPayload(made);
}

// Sets member to a static string of the module.
void setStatic(Json::Value& member, const char* text) {
  Json::Value made{Json::StaticString(text)};
  member.swapPayload(made);
}

// Writes a type value's JSON string into slot: a common value as a static
// string, a quoted one without its quotes, any other as a copy.
void putTypeValue(std::string_view value, bool quoted, Json::Value& slot) {
  static constexpr auto kPacked = [] {
    std::array<std::uint64_t, kCommonTypeCount> words{};
    for (std::size_t i = 0; i < kCommonTypeCount; ++i) words[i] = packed(kCommonTypes[i]);
    return words;
  }();
  if (quoted) {
    std::string unquoted;
    appendUnquoted(unquoted, value);
    setText(slot, unquoted);
    return;
  }
  if (value.size() <= 8) {
    const std::uint64_t word = packed(value);
    for (std::size_t i = 0; i < kCommonTypeCount; ++i) {
      // Seven bytes and the size decide unless the value has eight bytes.
      if (kPacked[i] == word && (value.size() < 8 || value[7] == kCommonTypes[i][7])) {
        setStatic(slot, kCommonTypes[i]);
        return;
      }
    }
  }
  setText(slot, value);
}

// The values of one kind a line lists, held where there is room.
struct ListedValues {
  static constexpr int kRoom = 8;
  std::string_view values[kRoom];
  bool quoted[kRoom];
  int count = 0;

  void add(std::string_view value, bool isQuoted) {
    if (count < kRoom) {
      values[count] = value;
      quoted[count] = isQuoted;
    }
    ++count;
  }
  bool isWhole() const { return count <= kRoom; }
};

// Fills an array of a shape in order, appending where the shape has no
// more room.
class ArrayFiller {
 public:
  explicit ArrayFiller(Json::Value* array) : array_(array) {
    if (array != nullptr) {
      at_ = array->begin();
      end_ = array->end();
    }
  }
  Json::Value& next() {
    if (at_ != end_) return *at_++;
    return array_->append(Json::Value());
  }

 private:
  Json::Value* array_;
  Json::Value::iterator at_;
  Json::Value::iterator end_;
};

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

  // Gathered first, so that the entry is copied from a shape of its size.
  ListedValues types;
  ListedValues params;
  forEachParameter(content.parameters, [&](std::string_view parameter) {
    if (!isTypeParameter(parameter)) {
      params.add(parameter, false);
      return;
    }
    forEachTypeValue(parameter,
                     [&](std::string_view value, bool quoted) { types.add(value, quoted); });
  });

  if (!entries.isArray()) entries = Json::Value(Json::arrayValue);
  Json::Value& entry = entries.append(entryShape(types.count, params.count));
  // The shape's members in key order, reached without lookups.
  Json::Value::iterator member = entry.begin();
  Json::Value& custName = *member;
  Json::Value& data = *++member;
  Json::Value& key = *++member;
  Json::Value* const paramArray = params.count > 0 ? &*++member : nullptr;
  Json::Value* const typeArray = types.count > 0 ? &*++member : nullptr;

  setText(data, content.value);
  // The common spellings are static strings of the module: no allocation.
  if (content.group.empty() && content.name == target.defaultName) {
    setStatic(key, target.defaultName);
  } else {
    setText(key, content.groupedName);
  }
  if (content.group.empty()) {
    setStatic(custName, target.defaultName);
  } else if (labelTable.isObject()) {
    const std::string_view group = content.group;
    if (const Json::Value* label = labelTable.find(group.data(), group.data() + group.size())) {
      custName.copyPayload(*label);
    }
  }

  if (params.isWhole() && types.isWhole()) {
    ArrayFiller paramSlots(paramArray);
    for (int i = 0; i < params.count; ++i) setText(paramSlots.next(), params.values[i]);
    ArrayFiller typeSlots(typeArray);
    for (int i = 0; i < types.count; ++i)
      putTypeValue(types.values[i], types.quoted[i], typeSlots.next());
    return true;
  }
  // More values than were held: walk the parameters again.
  ArrayFiller paramSlots(paramArray);
  ArrayFiller typeSlots(typeArray);
  forEachParameter(content.parameters, [&](std::string_view parameter) {
    if (!isTypeParameter(parameter)) {
      setText(paramSlots.next(), parameter);
      return;
    }
    forEachTypeValue(parameter, [&](std::string_view value, bool quoted) {
      putTypeValue(value, quoted, typeSlots.next());
    });
  });
  return true;
}

}  // namespace orva_vcard
