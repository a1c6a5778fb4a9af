// The N value: family, given and additional name, prefix and suffix.
#include <string_view>

#include "vcard/card_reader.h"
#include "vcard/json_text.h"
#include "vcard/record_keys.h"
#include "vcard/text_escape.h"

namespace orva_vcard {

namespace {

// The name's members, in the order N lists them.
enum Component { kFamily, kGiven, kAdditional, kPrefixed, kSuffixed, kComponents };

const Json::StaticString* const kComponentKeys[kComponents] = {
    &kFamilyName, &kGivenName, &kAdditionalName, &kPrefix, &kSuffix};

// Fills the name's components from an N value; slots holds the members
// already there (nullptr for one to insert), and a prefix or suffix there
// has been removed.
bool fillName(std::string_view value, Json::Value& name, Json::Value* const (&slots)[kComponents]) {
  // Every ';' that no backslash escapes separates, so empty components keep
  // their place; missing ones read as empty.
  std::string_view rest = value;
  bool more = true;
  bool named = false;
  for (int c = kFamily; c <= kPrefixed; ++c) {
    std::string_view component;
    if (more) {
      const std::size_t semicolon = componentEnd(rest, 0);
      component = rest.substr(0, semicolon);
      more = semicolon != rest.size();
      rest = more ? rest.substr(semicolon + 1) : std::string_view();
    }
    if (c == kPrefixed) {
      if (component.empty()) continue;
    } else {
      named = named || !component.empty();
      if (slots[c] != nullptr) {
        setJsonText(*slots[c], component);
        continue;
      }
    }
    setJsonText(name[*kComponentKeys[c]], component);
  }
  // The suffix keeps any further components, so writing back loses none.
  if (more && !rest.empty()) setJsonText(name[kSuffix], rest);
  return named;
}

}  // namespace

bool readNameValue(std::string_view value, Json::Value& record) {
  return readNameInto(value, record[kName]);
}

bool readNameInto(std::string_view value, Json::Value& name) {
  if (!name.isObject()) name = Json::Value(Json::objectValue);
  // The members already there, found in one walk rather than a lookup each.
  Json::Value* slots[kComponents] = {};
  const Json::Value::iterator end = name.end();
  for (Json::Value::iterator member = name.begin(); member != end; ++member) {
    const char* keyEnd = nullptr;
    const char* keyBegin = member.memberName(&keyEnd);
    const std::string_view key(keyBegin, static_cast<std::size_t>(keyEnd - keyBegin));
    for (int c = 0; c < kComponents; ++c) {
      if (key == kComponentKeys[c]->c_str()) slots[c] = &*member;
    }
  }
  // A prefix or suffix of an earlier N line goes with it.
  if (slots[kPrefixed] != nullptr) {
    name.removeMember(kPrefix.c_str());
    slots[kPrefixed] = nullptr;
  }
  if (slots[kSuffixed] != nullptr) {
    name.removeMember(kSuffix.c_str());
    slots[kSuffixed] = nullptr;
  }
  return fillName(value, name, slots);
}

bool readFreshName(std::string_view value, Json::Value& name, Json::Value& family,
                   Json::Value& given, Json::Value& additional) {
  Json::Value* const slots[kComponents] = {&family, &given, &additional, nullptr, nullptr};
  return fillName(value, name, slots);
}

}  // namespace orva_vcard
