// The N value: family, given and additional name; prefix and suffix dropped.
#include <cstring>

#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::ParseInfoName(char* text, Json::Value& record) {
  static constexpr const char* kFields[] = {"family_name", "given_name", "additional_name"};
  Json::Value& name = record["name"];
  // Every ';' separates, so empty components keep their place; missing ones
  // read as empty.
  const char* component = text;
  for (const char* field : kFields) {
    if (component == nullptr) {
      name[field] = "";
      continue;
    }
    const char* end = std::strchr(component, ';');
    if (end == nullptr) {
      name[field] = component;
      component = nullptr;
    } else {
      name[field] = Json::Value(component, end);
      component = end + 1;
    }
  }
}
