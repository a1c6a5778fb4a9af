// Names of vCard content lines ("item1.TEL;TYPE=CELL:+1 555 0100"), read
// without cutting the line apart.
#pragma once

#include <string_view>

namespace orva_vcard {

// The property name of a content line: the text before the first ';' or ':',
// less a "group." prefix (letter case as written).
std::string_view propertyName(std::string_view line);

// The group of a content line ("item1" of "item1.TEL;TYPE=CELL:..."), empty
// when there is none.
std::string_view propertyGroup(std::string_view line);

// True when name equals upperName (an upper-case ASCII name) without regard
// to ASCII case. Inline: the reader asks it for every line.
inline bool nameIs(std::string_view name, std::string_view upperName) {
  if (name.size() != upperName.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upperName[i]) return false;
  }
  return true;
}

}  // namespace orva_vcard
