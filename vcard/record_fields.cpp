#include "vcard/record_fields.h"

#include <cstring>

namespace orva_vcard {

const Json::Value* memberOf(const Json::Value& holder, const char* key) {
  if (!holder.isObject()) return nullptr;
  return holder.find(key, key + std::strlen(key));
}

const Json::Value* arrayOf(const Json::Value& holder, const char* key) {
  const Json::Value* value = memberOf(holder, key);
  return value != nullptr && value->isArray() ? value : nullptr;
}

std::string_view textOf(const Json::Value* value) {
  const char* begin = nullptr;
  const char* end = nullptr;
  if (value == nullptr || !value->isString() || !value->getString(&begin, &end)) return {};
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

std::string_view textOf(const Json::Value& holder, const char* key) {
  return textOf(memberOf(holder, key));
}

}  // namespace orva_vcard
