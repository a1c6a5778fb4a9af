#include "vcard/content_line.h"

#include "vcard/property_name.h"

namespace orva_vcard {

ContentLine splitContentLine(std::string_view line) {
  ContentLine split;
  std::size_t nameEnd = 0;
  std::size_t dot = std::string_view::npos;
  for (; nameEnd < line.size(); ++nameEnd) {
    const char c = line[nameEnd];
    if (c == ';' || c == ':') break;
    if (c == '.' && dot == std::string_view::npos) dot = nameEnd;
  }
  split.groupedName = line.substr(0, nameEnd);
  if (dot == std::string_view::npos) {
    split.name = split.groupedName;
  } else {
    split.group = line.substr(0, dot);
    split.name = split.groupedName.substr(dot + 1);
  }
  if (nameEnd == line.size()) return split;

  std::size_t colon = std::string_view::npos;
  if (line[nameEnd] == ':') {
    colon = nameEnd;
  } else {
    bool quoted = false;
    for (std::size_t i = nameEnd; i < line.size(); ++i) {
      if (line[i] == '"') {
        quoted = !quoted;
      } else if (line[i] == ':' && !quoted) {
        colon = i;
        break;
      }
    }
    if (colon == std::string_view::npos) colon = line.find(':', nameEnd);
    if (colon == std::string_view::npos) return split;
  }
  split.parameters = line.substr(nameEnd, colon - nameEnd);
  split.value = line.substr(colon + 1);
  split.hasValue = true;
  return split;
}

std::string_view parameterName(std::string_view parameter) {
  return parameter.substr(0, parameter.find('='));
}

}  // namespace orva_vcard
