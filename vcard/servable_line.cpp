#include "vcard/servable_line.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "vcard/property_name.h"

namespace orva_vcard {

namespace {

bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

std::string_view readName(std::string_view line, std::size_t& pos) {
  const std::size_t start = pos;
  while (pos < line.size() && isNameChar(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

bool isControl(char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F; }

// Every line of every imported card is tested: sixteen bytes at a time, and
// byte by byte only around a tab or a control character.
bool hasControlCharacter(std::string_view line) {
  const char* p = line.data();
  const char* const end = p + line.size();
#ifdef __SSE2__
  const __m128i below = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  for (; end - p >= 16; p += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(chunk, below), chunk);
    if (_mm_movemask_epi8(low | _mm_cmpeq_epi8(chunk, del)) == 0) continue;
    for (int i = 0; i < 16; ++i) {
      if (isControl(p[i])) return true;
    }
  }
#endif
  for (; p != end; ++p) {
    if (isControl(*p)) return true;
  }
  return false;
}

bool isStrictBase64(std::string_view value) {
  if (value.size() % 4 != 0) return false;
  std::size_t padding = 0;
  for (const char c : value) {
    if (c == '=') {
      ++padding;
      continue;
    }
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (!letter || padding > 0) return false;
  }
  return padding <= 2;
}

bool hasUnescapedComma(std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == ',') {
      return true;
    }
  }
  return false;
}

// One parameter value at pos; false when it is malformed.
bool skipParameterValue(std::string_view line, std::size_t& pos, std::string_view& value) {
  if (pos < line.size() && line[pos] == '"') {
    const std::size_t close = line.find('"', pos + 1);
    if (close == std::string_view::npos) return false;
    value = line.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    return true;
  }
  const std::size_t start = pos;
  while (pos < line.size() && line[pos] != ';' && line[pos] != ':' && line[pos] != ',') {
    if (line[pos] == '"') return false;
    ++pos;
  }
  value = line.substr(start, pos - start);
  return true;
}

}  // namespace

std::string_view unservableLine(std::string_view line) {
  if (hasControlCharacter(line)) return "holds a control character";
  std::size_t pos = 0;
  std::string_view name = readName(line, pos);
  bool grouped = false;
  if (pos < line.size() && line[pos] == '.' && !name.empty()) {
    ++pos;
    grouped = true;
    name = readName(line, pos);
  }
  if (name.empty()) return "has no property name";
  bool base64 = false;
  while (pos < line.size() && line[pos] == ';') {
    ++pos;
    const std::string_view parameter = readName(line, pos);
    if (parameter.empty()) return "has a malformed parameter";
    if (nameIs(parameter, "QUOTED-PRINTABLE")) return "is quoted-printable";
    base64 = base64 || nameIs(parameter, "BASE64");
    // The server serves only parameters with values, so the store refuses
    // the others; the line goes, not the card.
    if (pos >= line.size() || line[pos] != '=') return "has a parameter without a value";
    do {
      ++pos;
      std::string_view value;
      if (!skipParameterValue(line, pos, value)) return "has a malformed parameter value";
      if (value.empty() && !nameIs(parameter, "ENCODING")) {
        return "has an empty parameter value";
      }
      if (nameIs(parameter, "ENCODING")) {
        if (!nameIs(value, "B")) return "names an ENCODING other than b";
        base64 = true;
      }
    } while (pos < line.size() && line[pos] == ',');
  }
  if (pos >= line.size() || line[pos] != ':') return "has a property name the server refuses";
  const std::string_view value = line.substr(pos + 1);
  if (nameIs(name, "BEGIN") || nameIs(name, "END")) return "is a BEGIN or END line";
  if (nameIs(name, "PROFILE")) return "is a PROFILE line";
  if (grouped && (nameIs(name, "UID") || nameIs(name, "PRODID") || nameIs(name, "CATEGORIES"))) {
    return "has a group on UID, PRODID or CATEGORIES";
  }
  if (base64 && !isStrictBase64(value)) return "holds base64 that does not decode";
  // The server decodes only one-text values; it would serve these encoded.
  if (base64 && (nameIs(name, "N") || nameIs(name, "ADR") || nameIs(name, "ORG") ||
                 nameIs(name, "CATEGORIES"))) {
    return "is an encoded N, ADR, ORG or CATEGORIES";
  }
  if (nameIs(name, "ORG") && hasUnescapedComma(value)) return "has an unescaped ',' in ORG";
  return std::string_view();
}

}  // namespace orva_vcard
