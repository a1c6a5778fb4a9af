#include "vcard/vcard21_line.h"

#include "vcard/charset_to_utf8.h"
#include "vcard/property_name.h"
#include "vcard/quoted_printable.h"
#include "vcard/vcard21_text.h"

namespace orva_vcard {

namespace {

enum class Encoding { kNone, kQuotedPrintable, kBase64, kPlain };

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
  return Encoding::kNone;
}

// The encoding that one parameter names; kNone when it names none. "B" alone
// is no 2.1 word, so only ENCODING=b counts.
Encoding parameterEncoding(std::string_view parameter) {
  const std::size_t equals = parameter.find('=');
  if (equals == std::string_view::npos) {
    return nameIs(parameter, "B") ? Encoding::kNone : encodingNamed(parameter);
  }
  if (!nameIs(parameter.substr(0, equals), "ENCODING")) return Encoding::kNone;
  return encodingNamed(unquoted(parameter.substr(equals + 1)));
}

struct Head {
  Encoding encoding = Encoding::kNone;
  std::string_view charset;
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

void appendBase64(std::string_view value, Utf8Decoder& decoder, std::string& out) {
  std::string joined;
  joined.reserve(value.size());
  for (const char c : value) {
    if (!isBlankOrBreak(c)) joined.push_back(c);
  }
  std::string buffer;
  out.append(decoder.textAsUtf8(joined, std::string_view(), buffer));
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

void appendValue(std::string_view line, std::string_view value, const Head& head, bool version21,
                 Utf8Decoder& decoder, std::string& out) {
  if (head.encoding == Encoding::kBase64) {
    appendBase64(value, decoder, out);
    return;
  }
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
  if (is21Text && isEscapedText(propertyName(line), shape)) {
    appendEscaped21Text(text, shape, out);
  } else if (isDecoded || !head.charset.empty()) {
    appendWithEscapedLineBreaks(text, out);
  } else {
    out.append(text);
  }
}

}  // namespace

void appendLineAs30(std::string_view line, bool version21, Utf8Decoder& decoder, std::string& out) {
  std::string buffer;
  const std::size_t colon = valueColon(line);
  if (colon == std::string_view::npos) {
    out.append(decoder.textAsUtf8(line, std::string_view(), buffer));
    return;
  }
  // Names and parameters in another character set can only be guessed at.
  std::string_view head = line.substr(0, colon);
  head = decoder.textAsUtf8(head, std::string_view(), buffer);
  const Head said = appendHead(head, out);
  out.push_back(':');
  appendValue(head, line.substr(colon + 1), said, version21, decoder, out);
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
