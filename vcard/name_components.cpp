// The N value: family, given and additional name, prefix and suffix.
#include "vcard/card_reader.h"
#include "vcard/json_text.h"
#include "vcard/record_keys.h"

namespace orva_vcard {

bool readNameValue(std::string_view value, Json::Value& record) {
  const Json::StaticString* const kFields[] = {&kFamilyName, &kGivenName, &kAdditionalName,
                                               &kPrefix};
  Json::Value& name = record[kName];
  if (!name.isObject()) name = Json::Value(Json::objectValue);
  name.removeMember(kPrefix.c_str());
  name.removeMember(kSuffix.c_str());
  // Every ';' separates, so empty components keep their place; missing ones
  // read as empty.
  std::string_view rest = value;
  bool more = true;
  bool named = false;
  for (const Json::StaticString* field : kFields) {
    std::string_view component;
    if (more) {
      const std::size_t semicolon = rest.find(';');
      component = rest.substr(0, semicolon);
      more = semicolon != std::string_view::npos;
      rest = more ? rest.substr(semicolon + 1) : std::string_view();
    }
    if (field == kFields[3]) {
      if (component.empty()) continue;
    } else {
      named = named || !component.empty();
    }
    name[*field] = jsonText(component);
  }
  // The suffix keeps any further components, so writing back loses none.
  if (more && !rest.empty()) name[kSuffix] = jsonText(rest);
  return named;
}

}  // namespace orva_vcard
