#include "vcard/vcard21_text.h"

namespace orva_vcard {

namespace {

bool isEscapedByBackslash(char c) {
  return c == ';' || c == ',' || c == '\\' || c == 'n' || c == 'N';
}

// The line break at text[i] as "\n"; returns the index of its last byte.
std::size_t appendLineBreak(std::string_view text, std::size_t i, std::string& out) {
  out.append("\\n");
  return text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? i + 1 : i;
}

}  // namespace

void appendEscaped21Text(std::string_view text, TextShape shape, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '\\':
        if (i + 1 < text.size() && isEscapedByBackslash(text[i + 1])) {
          out.push_back(c);
          out.push_back(text[++i]);
        } else {
          out.append("\\\\");
        }
        break;
      case '\r':
      case '\n':
        i = appendLineBreak(text, i, out);
        break;
      case ',':
        out.append("\\,");
        break;
      case ';':
        if (shape == TextShape::kSingle) out.push_back('\\');
        out.push_back(c);
        break;
      default:
        out.push_back(c);
    }
  }
}

void appendWithEscapedLineBreaks(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      i = appendLineBreak(text, i, out);
    } else {
      out.push_back(text[i]);
    }
  }
}

}  // namespace orva_vcard
