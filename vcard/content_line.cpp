#include "vcard/content_line.h"

#include "vcard/byte_search.h"
#include "vcard/property_name.h"

namespace orva_vcard {

ContentLine splitContentLine(std::string_view line) {
  // Every member is set once, at the end: a line is split for every line of
  // every card, and clearing the whole split first costs more than the rest.
  std::string_view group;
  std::size_t nameStart = 0;
  std::size_t nameEnd = findAnyOf<';', ':', '.'>(line, 0);
  if (nameEnd < line.size() && line[nameEnd] == '.') {
    // Only the first '.' separates the group.
    group = line.substr(0, nameEnd);
    nameStart = nameEnd + 1;
    nameEnd = findAnyOf<';', ':'>(line, nameStart);
  }
  const std::string_view groupedName(line.data(), nameEnd);
  const std::string_view name(line.data() + nameStart, nameEnd - nameStart);

  std::size_t colon = nameEnd;
  if (nameEnd == line.size()) {
    colon = std::string_view::npos;
  } else if (line[nameEnd] != ':') {
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
  }
  if (colon == std::string_view::npos) {
    return ContentLine{group, name, groupedName, std::string_view(), std::string_view(), false};
  }
  return ContentLine{group,
                     name,
                     groupedName,
                     std::string_view(line.data() + nameEnd, colon - nameEnd),
                     std::string_view(line.data() + colon + 1, line.size() - colon - 1),
                     true};
}

std::string_view parameterName(std::string_view parameter) {
  return parameter.substr(0, parameter.find('='));
}

}  // namespace orva_vcard
