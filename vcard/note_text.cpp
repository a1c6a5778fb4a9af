#include "vcard/note_text.h"

#include <string_view>

#include "vcard/byte_search.h"

namespace orva_vcard {

void appendNoteText(std::string& note, const char* text, std::size_t size) {
  const char* end = text + size;
  while (text < end) {
    const std::string_view rest(text, static_cast<std::size_t>(end - text));
    const char* slash = text + findAnyOf<'\\'>(rest, 0);
    if (slash == end || slash + 1 == end) {
      note.append(text, end);
      return;
    }
    note.append(text, slash);
    const char next = slash[1];
    if (next == 'n' || next == 'N') {
      note.push_back('\n');
    } else if (next == '\\') {
      note.append(slash, 2);
    } else {
      // Any other escape stays as it stands.
      note.push_back('\\');
      text = slash + 1;
      continue;
    }
    text = slash + 2;
  }
}

}  // namespace orva_vcard
