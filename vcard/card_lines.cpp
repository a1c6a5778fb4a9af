#include "vcard/card_lines.h"

namespace orva_vcard {

namespace {

constexpr std::size_t kJoinedRoom = 1000;

bool isFoldBlank(char c) { return c == ' ' || c == '\t'; }

// The end of the run of line breaks starting at pos.
std::size_t breakRunEnd(std::string_view text, std::size_t pos) {
  while (pos < text.size() && isLineBreak(text[pos])) ++pos;
  return pos;
}

}  // namespace

bool LineWalker::next(std::string_view& line) {
  const std::size_t start = breakRunEnd(rest_, 0);
  if (start == rest_.size()) return false;
  std::size_t end = findLineBreak(rest_, start);
  // Most lines end in one CR LF.
  std::size_t after = end + 2 <= rest_.size() && rest_[end] == '\r' && rest_[end + 1] == '\n'
                          ? breakRunEnd(rest_, end + 2)
                          : breakRunEnd(rest_, end);
  if (after == rest_.size() || !isFoldBlank(rest_[after])) {
    line = rest_.substr(start, end - start);
    rest_.remove_prefix(after);
    return true;
  }
  // Folded: join the pieces, each without its one leading blank. Room for
  // a long note at once, in a size the allocator has at hand.
  if (joined_.capacity() < kJoinedRoom) joined_.reserve(kJoinedRoom);
  joined_.assign(rest_.data() + start, end - start);
  do {
    const std::size_t piece = after + 1;
    end = findLineBreak(rest_, piece);
    // A line longer than that (a photo) gets room for the rest of the text
    // at once rather than doubling piece by piece.
    if (joined_.capacity() - joined_.size() < end - piece) {
      joined_.reserve(joined_.size() + (rest_.size() - piece));
    }
    joined_.append(rest_.data() + piece, end - piece);
    after = breakRunEnd(rest_, end);
  } while (after < rest_.size() && isFoldBlank(rest_[after]));
  line = joined_;
  rest_.remove_prefix(after);
  return true;
}

}  // namespace orva_vcard
