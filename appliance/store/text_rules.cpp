#include "appliance/store/text_rules.h"

#include <cstdint>
#include <cstring>

namespace orva_store {

bool isValidUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t length;
    uint32_t point;
    uint32_t least;
    if ((c & 0xE0) == 0xC0) {
      length = 2, point = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, point = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, point = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) < length) return false;
    for (size_t i = 1; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      point = (point << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and points past U+10FFFF.
    if (point < least || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) return false;
    p += length;
  }
  return true;
}

bool hasControlCharacter(const std::string& text, const char* allowed) {
  for (char c : text) {
    const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    // strchr finds the terminator for NUL, so NUL is never "allowed".
    if (control && (c == '\0' || std::strchr(allowed, c) == nullptr)) return true;
  }
  return false;
}

}  // namespace orva_store
