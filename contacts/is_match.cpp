// Search: the key, lower-cased, as a substring of one of six record fields.
#include <locale>
#include <string>

#include "module/webapi-ContactAndCalendar.h"

namespace {

// Read-only member access that tolerates any shape: a missing member, or one
// of a value that is no object, reads as null.
const Json::Value& memberOf(const Json::Value& value, const char* name) {
  if (!value.isObject()) return Json::Value::nullSingleton();
  const Json::Value* member = value.find(name, name + std::char_traits<char>::length(name));
  return member != nullptr ? *member : Json::Value::nullSingleton();
}

// The lower-casing of boost::algorithm::to_lower with the given locale (each
// byte through the locale's ctype<char>), with the facet fetched once rather
// than for every byte, and the field lowered into one reused buffer.
class FieldSearch {
 public:
  FieldSearch(const std::string& key, const std::locale& locale)
      : ctype_(std::use_facet<std::ctype<char>>(locale)), key_(key) {
    lower(key_);
  }

  bool foundIn(const Json::Value& field) const {
    if (field.isString()) {
      const char* begin = nullptr;
      const char* end = nullptr;
      if (!field.getString(&begin, &end)) return key_.empty();
      return contains(begin, end);
    }
    // Null reads as ""; numbers and booleans as jsoncpp spells them.
    if (field.isNull() || !field.isConvertibleTo(Json::stringValue)) return key_.empty();
    const std::string text = field.asString();
    return contains(text.data(), text.data() + text.size());
  }

  bool foundInData(const Json::Value& entries) const {
    if (!entries.isArray()) return false;
    for (const Json::Value& entry : entries) {
      if (foundIn(memberOf(entry, "data"))) return true;
    }
    return false;
  }

 private:
  void lower(std::string& text) const {
    if (!text.empty()) ctype_.tolower(&text[0], &text[0] + text.size());
  }

  bool contains(const char* begin, const char* end) const {
    // A field shorter than the key cannot hold it.
    if (static_cast<std::size_t>(end - begin) < key_.size()) return false;
    field_.assign(begin, end);
    lower(field_);
    return field_.find(key_) != std::string::npos;
  }

  const std::ctype<char>& ctype_;
  std::string key_;
  mutable std::string field_;
};

}  // namespace

bool ContactAndCalendarHandler::isMatch(const Json::Value& record, const std::string& key) {
  const std::locale locale;
  const FieldSearch search(key, locale);
  const Json::Value& name = memberOf(record, "name");
  const Json::Value& company = memberOf(record, "company");
  return search.foundIn(memberOf(name, "family_name")) ||
         search.foundIn(memberOf(name, "given_name")) || search.foundIn(memberOf(company, "org")) ||
         search.foundIn(memberOf(company, "title")) ||
         search.foundInData(memberOf(record, "mail")) ||
         search.foundInData(memberOf(record, "tel"));
}
