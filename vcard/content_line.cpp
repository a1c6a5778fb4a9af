#include "vcard/content_line.h"

#include "vcard/byte_search.h"
#include "vcard/property_name.h"

namespace orva_vcard {

ContentLine splitContentLine(std::string_view line) {
  ContentLine split;
  std::size_t nameEnd = findAnyOf<';', ':', '.'>(line, 0);
  if (nameEnd < line.size() && line[nameEnd] == '.') {
    // Only the first '.' separates the group.
    const std::size_t dot = nameEnd;
    nameEnd = findAnyOf<';', ':'>(line, dot + 1);
    split.groupedName = line.substr(0, nameEnd);
    split.group = line.substr(0, dot);
    split.name = split.groupedName.substr(dot + 1);
  } else {
    split.groupedName = line.substr(0, nameEnd);
    split.name = split.groupedName;
  }
  if (nameEnd == line.size()) return split;

  std::size_t colon = nameEnd;
  if (line[nameEnd] != ':') {
    // The first ':' outside a quoted parameter value.
    bool quoted = false;
    for (std::size_t at = nameEnd;; ++at) {
      at = quoted ? findAnyOf<'"'>(line, at) : findAnyOf<'"', ':'>(line, at);
      if (at == line.size()) {
        colon = line.find(':', nameEnd);
        break;
      }
      if (line[at] == ':') {
        colon = at;
        break;
      }
      quoted = !quoted;
    }
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
