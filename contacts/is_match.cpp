// Search: the key, lower-cased, as a substring of one of six record fields.
#include <boost/algorithm/string/case_conv.hpp>
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

class FieldSearch {
 public:
  FieldSearch(const std::string& key, const std::locale& locale)
      : key_(boost::algorithm::to_lower_copy(key, locale)), locale_(locale) {}

  bool foundIn(const Json::Value& field) const {
    if (field.isString()) {
      const char* begin = nullptr;
      const char* end = nullptr;
      field.getString(&begin, &end);
      return contains(std::string(begin, end));
    }
    // Null reads as ""; numbers and booleans as jsoncpp spells them.
    if (field.isNull() || !field.isConvertibleTo(Json::stringValue)) return key_.empty();
    return contains(field.asString());
  }

  bool foundInData(const Json::Value& entries) const {
    if (!entries.isArray()) return false;
    for (const Json::Value& entry : entries) {
      if (foundIn(memberOf(entry, "data"))) return true;
    }
    return false;
  }

 private:
  bool contains(std::string text) const {
    boost::algorithm::to_lower(text, locale_);
    return text.find(key_) != std::string::npos;
  }

  std::string key_;
  const std::locale& locale_;
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
