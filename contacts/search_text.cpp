#include "contacts/search_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace orva_search {

namespace {

struct Fold {
  std::uint32_t codePoint;
  const char* text;
};

constexpr Fold kFolds[] = {
#include "contacts/search_fold_table.inc"
};

// U+0080 to U+07FF, one entry a code point: nullptr where nothing changes.
constexpr std::uint32_t kDenseFirst = 0x80;
constexpr const char* kDense[] = {
#include "contacts/search_fold_dense.inc"
};
static_assert(std::size(kDense) == 0x800 - kDenseFirst, "the dense table covers U+0080 to U+07FF");

static_assert(std::size(kFolds) > 0, "the fold table is generated, never empty");

// The code point of a valid UTF-8 sequence at text[i], and its length; 0
// for a byte that starts none (overlong forms and surrogates included).
std::size_t decode(std::string_view text, std::size_t i, std::uint32_t& codePoint) {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, codePoint = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, codePoint = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, codePoint = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
  }
  if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return 0;
  }
  return length;
}

const char* foldOf(std::uint32_t codePoint) {
  if (codePoint - kDenseFirst < std::size(kDense)) return kDense[codePoint - kDenseFirst];
  const Fold* end = std::end(kFolds);
  const Fold* at = std::lower_bound(std::begin(kFolds), end, codePoint,
                                    [](const Fold& f, std::uint32_t c) { return f.codePoint < c; });
  return at != end && at->codePoint == codePoint ? at->text : nullptr;
}

bool isAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

}  // namespace

void appendFolded(std::string& out, std::string_view text) {
  // Blanks collapse only within this text: what the caller appended before
  // is left alone.
  const std::size_t start = out.size();
  const auto blank = [&]() {
    if (out.size() == start || out.back() != ' ') out += ' ';
  };
  for (std::size_t i = 0; i < text.size();) {
    // A run of plain ASCII (no blank, no upper case) is copied at once.
    std::size_t run = i;
    while (run < text.size()) {
      const unsigned char b = static_cast<unsigned char>(text[run]);
      if (b >= 0x80 || (b >= 'A' && b <= 'Z') || b <= ' ') break;
      ++run;
    }
    if (run > i) {
      out.append(text.data() + i, run - i);
      i = run;
      if (i == text.size()) break;
    }
    const char c = text[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      if (isAsciiSpace(c)) {
        blank();
      } else {
        out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
      }
      ++i;
      continue;
    }
    std::uint32_t codePoint = 0;
    const std::size_t length = decode(text, i, codePoint);
    if (length == 0) {
      out += c;
      ++i;
      continue;
    }
    const char* fold = foldOf(codePoint);
    if (fold == nullptr) {
      out.append(text.data() + i, length);
    } else if (fold[0] == ' ' && fold[1] == '\0') {
      blank();
    } else {
      out += fold;
    }
    i += length;
  }
}

std::string folded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendFolded(out, text);
  return out;
}

bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    std::uint32_t codePoint = 0;
    const std::size_t length = decode(text, i, codePoint);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void appendDigits(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (c >= '0' && c <= '9') out += c;
  }
}

bool isPhoneKey(std::string_view key) {
  bool digit = false;
  for (const char c : key) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c != '+' && c != '-' && c != '.' && c != '(' && c != ')' && c != '/' &&
               !isAsciiSpace(c)) {
      return false;
    }
  }
  return digit;
}

}  // namespace orva_search
