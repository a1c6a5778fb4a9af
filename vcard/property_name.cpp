#include "vcard/property_name.h"

namespace orva_vcard {

namespace {

// The name with its group: everything before the first ';' or ':'.
std::string_view groupedName(std::string_view line) {
  return line.substr(0, line.find_first_of(";:"));
}

}  // namespace

std::string_view propertyName(std::string_view line) {
  const std::string_view grouped = groupedName(line);
  const std::size_t dot = grouped.find('.');
  return dot == std::string_view::npos ? grouped : grouped.substr(dot + 1);
}

std::string_view propertyGroup(std::string_view line) {
  const std::string_view grouped = groupedName(line);
  const std::size_t dot = grouped.find('.');
  return dot == std::string_view::npos ? std::string_view() : grouped.substr(0, dot);
}

bool nameIs(std::string_view name, std::string_view upperName) {
  if (name.size() != upperName.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upperName[i]) return false;
  }
  return true;
}

}  // namespace orva_vcard
