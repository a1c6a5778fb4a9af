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

void appendValue(std::string& out, std::string_view text) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    out.append(text.data() + run, i - run);
    out += "\\n";
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

}  // namespace orva_vcard
