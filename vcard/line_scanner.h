// In-place scanning of a card text: lines and tokens are cut out of the
// caller's buffer by writing NUL over the separator that ends them. The scan
// position is a plain pointer owned by the caller, so two scans never share
// anything.
#pragma once

#include <cstddef>
#include <cstring>

namespace orva_vcard {

// One piece cut out of the buffer: NUL-terminated at begin[size].
struct Piece {
  char* begin;
  std::size_t size;
};

inline bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

// The next line at or after cursor, or {nullptr, 0} at the end of the text.
// Lines are separated by runs of CR and LF, so no line is empty; a line keeps
// its leading blanks.
inline Piece nextLine(char*& cursor) {
  char* p = cursor;
  while (isLineBreak(*p)) ++p;
  if (*p == '\0') {
    cursor = p;
    return {nullptr, 0};
  }
  char* end = p + std::strcspn(p, "\r\n");
  cursor = *end == '\0' ? end : end + 1;
  *end = '\0';
  return {p, static_cast<std::size_t>(end - p)};
}

// The next token at or after cursor, or nullptr when only delimiters are
// left. Runs of delimiters count as one separator, so no token is empty.
inline char* nextToken(char*& cursor, const char* delimiters) {
  char* p = cursor + std::strspn(cursor, delimiters);
  if (*p == '\0') {
    cursor = p;
    return nullptr;
  }
  char* end = p + std::strcspn(p, delimiters);
  if (*end != '\0') {
    *end = '\0';
    cursor = end + 1;
  } else {
    cursor = end;
  }
  return p;
}

// Exact test of the first bytes; N counts the literal's NUL.
template <std::size_t N>
inline bool startsWith(const char* text, const char (&prefix)[N]) {
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if (text[i] != prefix[i]) return false;
  }
  return true;
}

// True when the bytes before position end of text spell word exactly.
template <std::size_t N>
inline bool endsAt(const char* text, std::size_t end, const char (&word)[N]) {
  constexpr std::size_t length = N - 1;
  if (end < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[end - length + i] != word[i]) return false;
  }
  return true;
}

}  // namespace orva_vcard
