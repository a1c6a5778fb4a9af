#include "vcard/vcard21_line.h"

#include "vcard/byte_search.h"
#include "vcard/charset_to_utf8.h"
#include "vcard/property_name.h"
#include "vcard/quoted_printable.h"
#include "vcard/text_escape.h"
#include "vcard/vcard21_text.h"

namespace orva_vcard {

namespace {

enum class Encoding { kNone, kQuotedPrintable, kBase64, kPlain, kUnknown };

// Where the head (name and parameters) ends: the first ':' outside a quoted
// parameter value, or the first ':' at all when the quotes never close.
std::size_t valueColon(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i;
  }
  return line.find(':');
}

// The next parameter of head from pos (just after a ';'), up to the next ';'
// outside quotes.
std::string_view nextParameter(std::string_view head, std::size_t& pos) {
  const std::size_t start = pos;
  bool quoted = false;
  for (; pos < head.size(); ++pos) {
    if (head[pos] == '"') quoted = !quoted;
    if (head[pos] == ';' && !quoted) break;
  }
  return head.substr(start, pos - start);
}

std::string_view unquoted(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

Encoding encodingNamed(std::string_view word) {
  if (nameIs(word, "QUOTED-PRINTABLE")) return Encoding::kQuotedPrintable;
  if (nameIs(word, "BASE64") || nameIs(word, "B")) return Encoding::kBase64;
  if (nameIs(word, "7BIT") || nameIs(word, "8BIT")) return Encoding::kPlain;
  return Encoding::kUnknown;
}

// The encoding that one parameter names; kNone when it names none. "B" alone
// is no 2.1 word, so only ENCODING=b counts.
Encoding parameterEncoding(std::string_view parameter) {
  const std::size_t equals = parameter.find('=');
  if (equals == std::string_view::npos) {
    // Alone, only the 2.1 words name an encoding; any other is a type.
    const Encoding named = nameIs(parameter, "B") ? Encoding::kNone : encodingNamed(parameter);
    return named == Encoding::kUnknown ? Encoding::kNone : named;
  }
  if (!nameIs(parameter.substr(0, equals), "ENCODING")) return Encoding::kNone;
  return encodingNamed(unquoted(parameter.substr(equals + 1)));
}

struct Head {
  Encoding encoding = Encoding::kNone;
  std::string_view charset;
  // An ENCODING that names no coding the server or this reader knows.
  bool unknownEncoding = false;
};

// Appends the name and the parameters in 3.0 form; returns what they say of
// the value.
Head appendHead(std::string_view head, std::string& out) {
  Head result;
  std::size_t pos = head.find(';');
  out.append(head.substr(0, pos));
  while (pos < head.size()) {
    ++pos;
    const std::string_view parameter = nextParameter(head, pos);
    const Encoding encoding = parameterEncoding(parameter);
    if (encoding == Encoding::kUnknown) {
      result.unknownEncoding = true;
      continue;
    }
    if (encoding != Encoding::kNone) {
      // The first encoding named holds; a second one is dropped.
      if (result.encoding == Encoding::kNone) {
        result.encoding = encoding;
        if (encoding == Encoding::kBase64) out.append(";ENCODING=b");
      }
      continue;
    }
    const std::size_t equals = parameter.find('=');
    if (parameter.empty()) {
      // A stray ';' names nothing.
    } else if (equals == std::string_view::npos) {
      // A bare 2.1 parameter is a type.
      out.append(";TYPE=").append(parameter);
    } else if (nameIs(parameter.substr(0, equals), "CHARSET")) {
      result.charset = unquoted(parameter.substr(equals + 1));
    } else {
      out.push_back(';');
      out.append(parameter);
    }
  }
  return result;
}

bool isBlankOrBreak(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isBase64Letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// The value without its blanks and line breaks, with the '=' padding that
// 2.1 exporters often leave out put back. False when it does not decode:
// a character outside the alphabet, data after the padding, or a length that
// no padding completes.
bool appendBase64(std::string_view value, std::string& out) {
  std::size_t letters = 0;
  std::size_t padding = 0;
  for (const char c : value) {
    if (isBlankOrBreak(c)) continue;
    if (c == '=') {
      ++padding;
    } else if (!isBase64Letter(c) || padding > 0) {
      return false;
    } else {
      ++letters;
    }
    out.push_back(c);
  }
  const std::size_t rest = letters % 4;
  const std::size_t needed = rest == 0 ? 0 : 4 - rest;
  if (rest == 1 || padding > needed) return false;
  out.append(needed - padding, '=');
  return true;
}

// The 2.1 properties whose values are text to escape, and their shape.
bool isEscapedText(std::string_view name, TextShape& shape) {
  if (nameIs(name, "FN") || nameIs(name, "NOTE") || nameIs(name, "TITLE")) {
    shape = TextShape::kSingle;
    return true;
  }
  if (nameIs(name, "N") || nameIs(name, "ORG") || nameIs(name, "ADR")) {
    shape = TextShape::kCompound;
    return true;
  }
  return false;
}

// Whether the writer's rule would leave text as it stands: every backslash
// starts an escape, no ',' (nor ';' when semicolonIsText) or line break
// stands bare.
bool isEscaped30Text(std::string_view text, bool semicolonIsText) {
  for (std::size_t at = 0;; at += 2) {
    at = semicolonIsText ? findAnyOf<'\\', ',', ';', '\r', '\n'>(text, at)
                         : findAnyOf<'\\', ',', '\r', '\n'>(text, at);
    if (at == text.size()) return true;
    if (text[at] != '\\' || at + 1 == text.size()) return false;
    const char next = text[at + 1];
    if (next != '\\' && next != ',' && next != ';' && next != 'n' && next != 'N') return false;
  }
}

// A 3.0 value that the CardDAV server would misread or refuse (an
// unescaped ',' in FN, NOTE, TITLE, an N component or an ORG unit) escaped
// with the writer's rule; false for other properties.
bool appendEscaped30Text(std::string_view name, std::string_view text, std::string& out) {
  const bool single = nameIs(name, "FN") || nameIs(name, "NOTE") || nameIs(name, "TITLE");
  const bool organisation = !single && nameIs(name, "ORG");
  if (!single && !organisation && !nameIs(name, "N")) return false;
  // Most values hold nothing to escape; ';' is text only in single values.
  if (isEscaped30Text(text, single)) {
    out.append(text);
  } else if (single) {
    appendEscaped(out, text, TextSeparators::kNone);
  } else if (organisation) {
    appendEscaped(out, text, TextSeparators::kComponents);
  } else {
    for (std::size_t start = 0;;) {
      const std::size_t end = componentEnd(text, start);
      appendEscaped(out, text.substr(start, end - start), TextSeparators::kNone);
      if (end >= text.size()) break;
      out.push_back(';');
      start = end + 1;
    }
  }
  return true;
}

bool appendValue(std::string_view line, std::string_view value, const Head& head, bool version21,
                 Utf8Decoder& decoder, std::string& out) {
  if (head.encoding == Encoding::kBase64) return appendBase64(value, out);
  std::string decoded;
  const bool isDecoded = head.encoding == Encoding::kQuotedPrintable;
  if (isDecoded) {
    decoded = decodeQuotedPrintable(value);
    value = decoded;
  }
  std::string buffer;
  const std::string_view text = decoder.textAsUtf8(value, head.charset, buffer);
  // A value in a 2.1 encoding or character set is 2.1 text, whatever
  // version its card claims.
  const bool is21Text = version21 || isDecoded || !head.charset.empty();
  TextShape shape;
  const std::string_view name = propertyName(line);
  if (is21Text && isEscapedText(name, shape)) {
    appendEscaped21Text(text, shape, out);
  } else if (appendEscaped30Text(name, text, out)) {
  } else if (isDecoded || !head.charset.empty()) {
    appendWithEscapedLineBreaks(text, out);
  } else {
    out.append(text);
  }
  return true;
}

}  // namespace

std::string_view appendLineAs30(std::string_view line, bool version21, Utf8Decoder& decoder,
                                std::string& out) {
  std::string buffer;
  const std::size_t colon = valueColon(line);
  if (colon == std::string_view::npos) return "has no ':'";
  // Names and parameters in another character set can only be guessed at.
  std::string_view head = line.substr(0, colon);
  head = decoder.textAsUtf8(head, std::string_view(), buffer);
  const std::size_t start = out.size();
  const Head said = appendHead(head, out);
  const char* fault = nullptr;
  if (said.unknownEncoding) {
    fault = "names an unknown ENCODING";
  } else {
    out.push_back(':');
    if (!appendValue(head, line.substr(colon + 1), said, version21, decoder, out)) {
      fault = "holds base64 that does not decode";
    }
  }
  if (fault == nullptr) return std::string_view();
  out.resize(start);
  return fault;
}

bool namesQuotedPrintable(std::string_view line) {
  const std::size_t colon = valueColon(line);
  const std::string_view head = line.substr(0, colon);
  std::size_t pos = head.find(';');
  while (pos < head.size()) {
    ++pos;
    const Encoding encoding = parameterEncoding(nextParameter(head, pos));
    if (encoding != Encoding::kNone) return encoding == Encoding::kQuotedPrintable;
  }
  return false;
}

}  // namespace orva_vcard
