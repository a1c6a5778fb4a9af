// The lines of a card text. Lines are separated by runs of CR and LF, so no
// line is empty; a line that begins with a space or a tab continues the line
// before it (folding at 75 octets, as CardDAV clients write): the two are
// joined and that one blank removed.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "vcard/byte_search.h"

namespace orva_vcard {

inline bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

// The position of the first CR or LF at or after pos, or the text's size.
inline std::size_t findLineBreak(std::string_view text, std::size_t pos) {
  return findAnyOf<'\r', '\n'>(text, pos);
}

// Walks the unfolded lines of a text. The position is the walker's own; a
// folded line is joined in the walker's buffer, so a line stays valid only
// until the next call.
class LineWalker {
 public:
  explicit LineWalker(std::string_view text) : rest_(text) {}

  // The next line into line; false at the end of the text.
  bool next(std::string_view& line);

  // The text not walked yet.
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
  std::string joined_;
};

}  // namespace orva_vcard
