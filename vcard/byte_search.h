// Searching a card text for the first of a few bytes. Lines and their
// pieces are short, so sixteen bytes are tested at once where the text
// allows; a library search call would cost more than the scan.
#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cstddef>
#include <string_view>

namespace orva_vcard {

// The position of the first byte at or after pos that is one of Bytes, or
// the text's size when there is none.
// Always inlined: it runs several times on every line, and a call costs
// about as much as the search of a short piece.
template <char... Bytes>
[[gnu::always_inline]] inline std::size_t findAnyOf(std::string_view text, std::size_t pos) {
  const char* p = text.data() + (pos < text.size() ? pos : text.size());
  const char* const end = text.data() + text.size();
#ifdef __SSE2__
  for (; end - p >= 16; p += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8((_mm_cmpeq_epi8(chunk, _mm_set1_epi8(Bytes)) | ...));
    if (hits != 0) return static_cast<std::size_t>(p - text.data()) + __builtin_ctz(hits);
  }
#endif
  while (p != end && ((*p != Bytes) && ...)) ++p;
  return static_cast<std::size_t>(p - text.data());
}

}  // namespace orva_vcard
