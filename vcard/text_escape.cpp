#include "vcard/text_escape.h"

#include "vcard/byte_search.h"

namespace orva_vcard {

namespace {

bool startsEscape(char next) {
  return next == '\\' || next == ',' || next == ';' || next == 'n' || next == 'N';
}

bool startsTextEscape(char next, bool lineBreaks) {
  return next == '\\' || next == ',' || next == ';' || (lineBreaks && (next == 'n' || next == 'N'));
}

// The line break at text[i] as "\n"; returns the index of its last byte.
std::size_t appendLineBreak(std::string& out, std::string_view text, std::size_t i) {
  out.append("\\n");
  return text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? i + 1 : i;
}

bool isTextSeparator(char c, TextShape shape) {
  return (c == ',' && shape != TextShape::kList) || (c == ';' && shape != TextShape::kCompound);
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
    if (c == '\\') {
      if (i + 1 < size && startsTextEscape(text[i + 1], lineBreakEscapes)) {
        ++i;  // a whole escape: kept as it stands
        continue;
      }
      insert = "\\\\";
    } else if (c == ',' || (c == ';' && semicolonIsText)) {
      insert = c == ',' ? "\\," : "\\;";
    } else if (c == '\r' || c == '\n') {
      out.append(text.data() + run, i - run);
      i = appendLineBreak(out, text, i);
      run = i + 1;
      continue;
    } else {
      continue;
    }
    out.append(text.data() + run, i - run);
    out += insert;
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

void appendComponents(std::string& out, std::string_view value, std::size_t count) {
  std::size_t start = 0;
  for (std::size_t n = 1; n < count; ++n) {
    const std::size_t end = componentEnd(value, start);
    if (end >= value.size()) break;
    appendEscaped(out, value.substr(start, end - start));
    out += ';';
    start = end + 1;
  }
  appendEscaped(out, value.substr(start));
}

bool isEscaped(std::string_view text, TextSeparators separators) {
  const bool semicolonIsText = separators != TextSeparators::kComponents;
  const bool lineBreakEscapes = separators != TextSeparators::kNote;
  for (std::size_t at = 0;; at += 2) {
    at = semicolonIsText ? findAnyOf<'\\', ',', ';', '\r', '\n'>(text, at)
                         : findAnyOf<'\\', ',', '\r', '\n'>(text, at);
    if (at == text.size()) return true;
    if (text[at] != '\\' || at + 1 == text.size()) return false;
    if (!startsTextEscape(text[at + 1], lineBreakEscapes)) return false;
  }
}

void appendWithEscapedLineBreaks(std::string& out, std::string_view text) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    out.append(text.data() + run, i - run);
    i = appendLineBreak(out, text, i);
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

std::string formulateText(const char* text) {
  std::string out;
  if (text == nullptr) return out;
  while (*text == ' ') ++text;
  for (; *text != '\0'; ++text) {
    if (*text == '\\') out += '\\';
    out += *text;
  }
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
      i = appendLineBreak(out, typed, i);
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

bool appendImportedText(std::string& out, std::string_view text, TextShape shape,
                        bool backslashIsText) {
  bool undefined = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      if (i + 1 == text.size()) {
        out.append("\\\\");
      } else if (startsEscape(text[i + 1])) {
        out.push_back(c);
        out.push_back(text[++i]);
      } else if (backslashIsText) {
        out.append("\\\\");
      } else {
        undefined = true;  // the character after it stands for itself
      }
    } else if (c == '\r' || c == '\n') {
      i = appendLineBreak(out, text, i);
    } else {
      if (isTextSeparator(c, shape)) out.push_back('\\');
      out.push_back(c);
    }
  }
  return undefined;
}

bool needsImportEscapes(std::string_view text, TextShape shape, bool /*backslashIsText*/) {
  for (std::size_t at = 0;; at += 2) {
    at = findAnyOf<'\\', ',', ';', '\r', '\n'>(text, at);
    if (at == text.size()) return false;
    const char c = text[at];
    if (c == ',' || c == ';') {
      if (isTextSeparator(c, shape)) return true;
      --at;  // a separator is one byte
      continue;
    }
    if (c != '\\' || at + 1 == text.size() || !startsEscape(text[at + 1])) return true;
  }
}

bool appendServedText(std::string& out, std::string_view value, TextShape shape) {
  bool changed = false;
  std::size_t run = 0;
  for (std::size_t at = 0;; ++at) {
    at = findAnyOf<'\\', ',', ';'>(value, at);
    if (at == value.size()) break;
    const char* insert = nullptr;
    std::size_t skip = 1;
    if (value[at] != '\\') {
      if (!isTextSeparator(value[at], shape)) continue;
      insert = value[at] == ',' ? "\\," : "\\;";
    } else if (at + 1 == value.size()) {
      insert = "\\\\";
    } else if (value[at + 1] == '"') {
      insert = "\"";
      skip = 2;
    } else {
      ++at;  // any other escape stays
      continue;
    }
    out.append(value.data() + run, at - run);
    out += insert;
    at += skip - 1;
    run = at + 1;
    changed = true;
  }
  out.append(value.data() + run, value.size() - run);
  return changed;
}

}  // namespace orva_vcard
