#include "vcard/vcard21_line.h"

#include "vcard/byte_search.h"
#include "vcard/charset_to_utf8.h"
#include "vcard/property_name.h"
#include "vcard/quoted_printable.h"
#include "vcard/served_line.h"
#include "vcard/text_escape.h"

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
bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// A name as the server takes it: letters, digits and '-', each run of other
// characters one '-', none at the ends; a property's in upper case.
std::string validName(std::string_view name, bool property) {
  std::string valid;
  for (const char c : name) {
    if (isNameChar(c)) {
      valid.push_back(property && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    } else if (!valid.empty() && valid.back() != '-') {
      valid.push_back('-');
    }
  }
  while (!valid.empty() && valid.back() == '-') valid.pop_back();
  return valid;
}

bool isValidName(std::string_view name) {
  for (const char c : name) {
    if (!isNameChar(c)) return false;
  }
  return !name.empty();
}

// The group and name of a head; one the server would refuse (KDE writes
// "X-messaging/skype-All") keeps its letters in a name it takes.
void appendGroupAndName(std::string_view groupAndName, std::string& out, LineRepair& repair) {
  const std::string_view group = propertyGroup(groupAndName);
  std::string_view name = propertyName(groupAndName);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  const bool validGroup = group.empty() || isValidName(group);
  if (validGroup && isValidName(name) && name.size() == propertyName(groupAndName).size()) {
    out.append(groupAndName);
    return;
  }
  // An X- name keeps its prefix; one with nothing else to keep is refused.
  const bool extension = nameIs(name.substr(0, 2), "X-");
  std::string valid = validName(extension ? name.substr(2) : name, true);
  if (valid.empty() || (!group.empty() && validName(group, false).empty())) {
    out.append(groupAndName);
    return;
  }
  if (extension || !nameIs(std::string_view(valid).substr(0, 2), "X-")) valid.insert(0, "X-");
  repair = LineRepair::kPropertyName;
  if (!group.empty()) out.append(validName(group, false)).push_back('.');
  if (isValidName(name)) {
    out.append(name);
  } else {
    out.append(valid);
  }
}

Head appendHead(std::string_view head, std::string& out, LineRepair& repair) {
  Head result;
  std::size_t pos = head.find(';');
  appendGroupAndName(head.substr(0, pos), out, repair);
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
      // Empty values go: the server drops them.
      const std::size_t before = out.size();
      out.push_back(';');
      if (!appendServedParameter(out, parameter)) out.resize(before);
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

// A data: URI under a base64 parameter, as phones write a photo: its base64
// part (the server keeps that part of it too); the value itself otherwise.
std::string_view withoutDataUri(std::string_view value, LineRepair& repair) {
  if (value.substr(0, 5) != "data:") return value;
  const std::size_t comma = value.find(',');
  if (comma == std::string_view::npos || value.substr(0, comma).find(";base64") == value.npos) {
    return value;
  }
  repair = LineRepair::kDataUri;
  return value.substr(comma + 1);
}

bool appendValue(std::string_view name, std::string_view value, const Head& head, bool version21,
                 Utf8Decoder& decoder, std::string& out, LineRepair& repair) {
  if (head.encoding == Encoding::kBase64) {
    return appendBase64(withoutDataUri(value, repair), out);
  }
  std::string decoded;
  if (head.encoding == Encoding::kQuotedPrintable) {
    decoded = decodeQuotedPrintable(value);
    value = decoded;
  }
  std::string buffer;
  const std::string_view text = decoder.textAsUtf8(value, head.charset, buffer);
  const TextShape shape = valueShapeOf(name);
  // A value in a 2.1 encoding or character set is 2.1 text, whatever
  // version its card claims: its backslashes are text.
  const bool backslashIsText =
      version21 || head.encoding == Encoding::kQuotedPrintable || !head.charset.empty();
  if (nameIs(name, "N") || nameIs(name, "ADR")) {
    // The server keeps five N components and seven ADR ones.
    std::string escapedText;
    if (appendImportedText(escapedText, text, shape, backslashIsText))
      repair = LineRepair::kUndefinedEscape;
    appendComponents(out, escapedText, nameIs(name, "N") ? 5 : 7);
  } else if (!needsImportEscapes(text, shape, backslashIsText)) {
    out.append(text);  // most values hold nothing to escape
  } else if (appendImportedText(out, text, shape, backslashIsText)) {
    repair = LineRepair::kUndefinedEscape;
  }
  return true;
}

}  // namespace

std::string_view appendLineAs30(std::string_view line, bool version21, Utf8Decoder& decoder,
                                std::string& out, LineRepair& repair) {
  repair = LineRepair::kNone;
  std::string buffer;
  const std::size_t colon = valueColon(line);
  if (colon == std::string_view::npos) return "has no ':'";
  // Names and parameters in another character set can only be guessed at.
  std::string_view head = line.substr(0, colon);
  head = decoder.textAsUtf8(head, std::string_view(), buffer);
  const std::size_t start = out.size();
  const Head said = appendHead(head, out, repair);
  const char* fault = nullptr;
  if (said.unknownEncoding) {
    fault = "names an unknown ENCODING";
  } else {
    out.push_back(':');
    if (!appendValue(propertyName(head), line.substr(colon + 1), said, version21, decoder, out,
                     repair)) {
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

std::string_view repairText(LineRepair repair) {
  switch (repair) {
    case LineRepair::kDataUri:
      return "a data: URI under a base64 parameter, kept as its base64";
    case LineRepair::kPropertyName:
      return "a property name the server refuses, kept under a name it takes";
    case LineRepair::kUndefinedEscape:
      return "an escape vCard does not define, read as the character itself";
    case LineRepair::kNone:
      break;
  }
  return std::string_view();
}

}  // namespace orva_vcard
