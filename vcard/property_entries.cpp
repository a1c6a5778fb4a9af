// TEL, EMAIL, ADR and URL lines into property entries of the record.
#include <algorithm>
#include <array>
#include <string>

#include "vcard/card_reader.h"
#include "vcard/common_texts.h"
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

// Static strings of the module as JSON strings, made once and never
// changed: copying one's payload copies a pointer.
template <std::size_t N>
std::array<Json::Value, N> staticTexts(const char* const (&texts)[N]) {
  std::array<Json::Value, N> made;
  for (std::size_t i = 0; i < N; ++i) made[i] = Json::Value(Json::StaticString(texts[i]));
  return made;
}

constexpr const char* kDefaultNames[] = {"TEL", "EMAIL", "ADR", "URL"};

// Sets member to the default name of kind (as entryTarget spells it).
void setDefaultName(Json::Value& member, EntryKind kind) {
  static const auto kNames = staticTexts(kDefaultNames);
  member.copyPayload(kNames[static_cast<std::size_t>(kind)]);
}

// Writes a type value's JSON string into slot: a common value as a static
// string, a quoted one without its quotes, any other as a copy.
void putTypeValue(std::string_view value, bool quoted, Json::Value& slot) {
  if (quoted) {
    std::string unquoted;
    appendUnquoted(unquoted, value);
    setJsonText(slot, unquoted);
  } else {
    setCommonOrText(slot, value);
  }
}

// The values of one kind a line lists, held where there is room. Left
// uninitialised: zeroing the room costs more than filling it.
struct ListedValues {
  static constexpr int kRoom = 8;
  struct Held {
    const char* data;
    std::size_t size;
    bool quoted;
  };
  Held held[kRoom];
  int count = 0;

  void add(std::string_view value, bool quoted) {
    if (count < kRoom) held[count] = Held{value.data(), value.size(), quoted};
    ++count;
  }
  bool isWhole() const { return count <= kRoom; }
  std::string_view value(int i) const { return std::string_view(held[i].data, held[i].size); }
};

// Fills an array of a shape in order, appending where the shape has no
// more room.
class ArrayFiller {
 public:
  ArrayFiller(Json::Value* array, int room)
      : array_(array), at_(room > 0 ? array->begin() : Json::Value::iterator()), room_(room) {}
  Json::Value& next() {
    if (room_ == 0) return array_->append(Json::Value());
    --room_;
    Json::Value& slot = *at_;
    ++at_;
    return slot;
  }

 private:
  Json::Value* array_;
  Json::Value::iterator at_;
  int room_;
};

// A parameter without a value (2.1's "TEL;CELL") is a type, as the
// server keeps it only as TYPE=CELL; BASE64 and QUOTED-PRINTABLE name an
// encoding.
bool isBareType(std::string_view parameter) {
  return parameter.find('=') == std::string_view::npos && !nameIs(parameter, "BASE64") &&
         !nameIs(parameter, "QUOTED-PRINTABLE");
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

  // Gathered first, so that the entry is copied from a shape of its size.
  ListedValues types;
  ListedValues params;
  forEachParameter(content.parameters, [&](std::string_view parameter) {
    if (isBareType(parameter)) {
      types.add(parameter, false);
      return;
    }
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

  setJsonText(data, content.value);
  // The common spellings are static strings of the module: no allocation.
  if (content.group.empty() && content.name == target.defaultName) {
    setDefaultName(key, kind);
  } else {
    setJsonText(key, content.groupedName);
  }
  if (content.group.empty()) {
    setDefaultName(custName, kind);
  } else if (labelTable.isObject()) {
    const std::string_view group = content.group;
    if (const Json::Value* label = labelTable.find(group.data(), group.data() + group.size())) {
      custName.copyPayload(*label);
    }
  }

  ArrayFiller paramSlots(paramArray, std::min(params.count, kShapeParams));
  ArrayFiller typeSlots(typeArray, std::min(types.count, kShapeTypes));
  if (params.isWhole() && types.isWhole()) {
    for (int i = 0; i < params.count; ++i) setJsonText(paramSlots.next(), params.value(i));
    for (int i = 0; i < types.count; ++i) {
      putTypeValue(types.value(i), types.held[i].quoted, typeSlots.next());
    }
    return true;
  }
  // More values than were held: walk the parameters again.
  forEachParameter(content.parameters, [&](std::string_view parameter) {
    if (isBareType(parameter)) {
      putTypeValue(parameter, false, typeSlots.next());
      return;
    }
    if (!isTypeParameter(parameter)) {
      setJsonText(paramSlots.next(), parameter);
      return;
    }
    forEachTypeValue(parameter, [&](std::string_view value, bool quoted) {
      putTypeValue(value, quoted, typeSlots.next());
    });
  });
  return true;
}

}  // namespace orva_vcard
