#include "vcard/property_name.h"

namespace orva_vcard {

namespace {

// The name with its group: everything before the first ';' or ':'.
// A plain loop: string_view's find_first_of calls memchr once per byte.
std::string_view groupedName(std::string_view line) {
  std::size_t end = 0;
  while (end < line.size() && line[end] != ';' && line[end] != ':') ++end;
  return line.substr(0, end);
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

}  // namespace orva_vcard
