#include "vcard/property_naming.h"

#include <cstring>

namespace orva_vcard {

bool isTypeParameter(const char* token) {
  constexpr char kLower[] = "type=";
  for (int i = 0; i < 5; ++i) {
    char c = token[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kLower[i]) return false;
  }
  return true;
}

void nameEntry(Json::Value& entry, const char* key, const Json::Value& labelTable,
               const char* defaultName) {
  entry["key"] = key;
  const char* dot = std::strchr(key, '.');
  if (dot == nullptr) {
    entry["cust_name"] = defaultName;
    return;
  }
  const Json::Value* label = labelTable.isObject() ? labelTable.find(key, dot) : nullptr;
  entry["cust_name"] = label != nullptr ? *label : Json::Value();
}

Json::Value namedEntryShape() {
  // Copied rather than built: see setEmptyInfo. Never changed once made.
  static const Json::Value kShape = [] {
    Json::Value shape(Json::objectValue);
    shape["cust_name"] = Json::Value();
    shape["data"] = Json::Value();
    shape["key"] = Json::Value();
    return shape;
  }();
  return kShape;
}

void addType(Json::Value& types, const char* typeToken) {
  types.append(Json::Value(typeToken + 5));
}

}  // namespace orva_vcard
