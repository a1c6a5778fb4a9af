// The lines of a card text. Lines are separated by runs of CR and LF, so no
// line is empty; a line that begins with a space or a tab continues the line
// before it (folding at 75 octets, as CardDAV clients write): the two are
// joined and that one blank removed.
#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cstring>
#include <string>
#include <string_view>

namespace orva_vcard {

inline bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

// The position of the first CR or LF at or after pos, or the text's size.
// Lines are short, so sixteen bytes are tested at once where the text
// allows; a library search call would cost more than the scan.
inline std::size_t findLineBreak(std::string_view text, std::size_t pos) {
  const char* p = text.data() + (pos < text.size() ? pos : text.size());
  const char* const end = text.data() + text.size();
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  for (; end - p >= 16; p += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, lf), _mm_cmpeq_epi8(chunk, cr)));
    if (hits != 0) return static_cast<std::size_t>(p - text.data()) + __builtin_ctz(hits);
  }
#endif
  while (p != end && !isLineBreak(*p)) ++p;
  return static_cast<std::size_t>(p - text.data());
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
