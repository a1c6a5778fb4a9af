#include "vcard/text_escape.h"

namespace orva_vcard {

namespace {

bool startsEscape(char next) {
  return next == '\\' || next == ',' || next == ';' || next == 'n' || next == 'N';
}

bool startsTextEscape(char next, bool lineBreaks) {
  return next == '\\' || next == ',' || next == ';' || (lineBreaks && (next == 'n' || next == 'N'));
}

}  // namespace

void appendEscaped(std::string& out, std::string_view text, TextSeparators separators) {
  const bool semicolonIsText = separators != TextSeparators::kComponents;
  const bool lineBreakEscapes = separators != TextSeparators::kNote;
  std::size_t run = 0;
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size; ++i) {
    const char c = text[i];
    const char* insert = nullptr;
    std::size_t skip = 1;
    if (c == '\\') {
      if (i + 1 < size && startsTextEscape(text[i + 1], lineBreakEscapes)) {
        ++i;  // a whole escape: kept as it stands
        continue;
      }
      insert = "\\\\";
    } else if (c == ',' || (c == ';' && semicolonIsText)) {
      insert = c == ',' ? "\\," : "\\;";
    } else if (c == '\r' || c == '\n') {
      insert = "\\n";
      if (c == '\r' && i + 1 < size && text[i + 1] == '\n') skip = 2;
    } else {
      continue;
    }
    out.append(text.data() + run, i - run);
    out += insert;
    i += skip - 1;
    run = i + 1;
  }
  out.append(text.data() + run, size - run);
}

std::string escaped(std::string_view text, TextSeparators separators) {
  std::string out;
  out.reserve(text.size() + 8);
  appendEscaped(out, text, separators);
  return out;
}

std::string escapedTyped(std::string_view typed) {
  std::string out;
  out.reserve(typed.size() + 8);
  for (std::size_t i = 0; i < typed.size(); ++i) {
    const char c = typed[i];
    if (c == '\\' || c == ',' || c == ';') {
      out += '\\';
      out += c;
    } else if (c == '\r' || c == '\n') {
      out += "\\n";
      if (c == '\r' && i + 1 < typed.size() && typed[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescaped(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\' && i + 1 < value.size() && startsEscape(value[i + 1])) {
      const char next = value[++i];
      out += next == 'n' || next == 'N' ? '\n' : next;
    } else {
      out += c;
    }
  }
  return out;
}

std::size_t componentEnd(std::string_view value, std::size_t from) {
  for (std::size_t i = from; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == ';') {
      return i;
    }
  }
  return value.size();
}

}  // namespace orva_vcard
