#include "vcard/quoted_printable.h"

namespace orva_vcard {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string decodeQuotedPrintable(std::string_view encoded) {
  std::string out;
  out.reserve(encoded.size());
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c != '=') {
      out.push_back(c);
      continue;
    }
    const std::size_t rest = encoded.size() - i - 1;
    // A soft break that ends the value has nothing left to join.
    if (rest == 0) break;
    if (rest >= 2 && encoded[i + 1] == '\r' && encoded[i + 2] == '\n') {
      i += 2;
      continue;
    }
    if (rest >= 1 && (encoded[i + 1] == '\n' || encoded[i + 1] == '\r')) {
      i += 1;
      continue;
    }
    const int high = rest >= 2 ? hexValue(encoded[i + 1]) : -1;
    const int low = rest >= 2 ? hexValue(encoded[i + 2]) : -1;
    if (high < 0 || low < 0) {
      out.push_back(c);
      continue;
    }
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

bool endsWithSoftBreak(std::string_view encoded) {
  return !encoded.empty() && encoded.back() == '=';
}

}  // namespace orva_vcard
