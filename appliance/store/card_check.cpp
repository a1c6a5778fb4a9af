#include "appliance/store/card_check.h"

#include <cstdint>
#include <vector>

#include "appliance/store/served_value.h"
#include "appliance/store/text_rules.h"

namespace orva_store {

namespace {

bool hasLoneCrOrLf(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return true;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return true;
  }
  return false;
}

bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

bool equalsNoCase(const std::string& text, const char* upper) {
  size_t i = 0;
  for (; i < text.size() && upper[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return i == text.size() && upper[i] == '\0';
}

std::string readName(const std::string& line, size_t& pos) {
  const size_t start = pos;
  while (pos < line.size() && isNameChar(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

struct Property {
  std::string name;
  bool grouped = false;
  std::string value;
  bool quotedPrintable = false;
  // ENCODING=b, or BASE64 alone: the server decodes the value.
  bool base64 = false;
  // An ENCODING the server cannot write back (anything but b).
  bool unknownEncoding = false;
};

// The server decodes the value of ENCODING=b leniently but writes it back
// only when it decoded; the strict form is what every decoder takes:
// letters, digits, '+' and '/' in groups of four, '=' padding at the end only.
bool isStrictBase64(const std::string& value) {
  if (value.size() % 4 != 0) return false;
  size_t padding = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '=') {
      ++padding;
      continue;
    }
    const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (!alphabet || padding > 0) return false;
  }
  return padding <= 2;
}

// Where the first ',' that no backslash escapes stands, or value.size().
size_t unescapedCommaAt(const std::string& value) {
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == ',') {
      return i;
    }
  }
  return value.size();
}

// Whether an unescaped ',' stands in the value: the server reads it as a
// list inside an ORG unit and then fails to write the card back.
bool hasUnescapedComma(const std::string& value) { return unescapedCommaAt(value) < value.size(); }

// Reads one parameter value at pos; false when it is malformed. Control
// characters never reach here: the whole text is refused for them first.
bool readParamValue(const std::string& line, size_t& pos, std::string& value) {
  if (pos < line.size() && line[pos] == '"') {
    const size_t close = line.find('"', pos + 1);
    if (close == std::string::npos) return false;
    value = line.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    return true;
  }
  const size_t start = pos;
  while (pos < line.size() && line[pos] != ';' && line[pos] != ':' && line[pos] != ',') {
    if (line[pos] == '"') return false;
    ++pos;
  }
  value = line.substr(start, pos - start);
  return true;
}

// Parses one unfolded line; "" when it is a property line, else the fault.
std::string parseProperty(const std::string& line, Property& property) {
  size_t pos = 0;
  property.name = readName(line, pos);
  if (pos < line.size() && line[pos] == '.' && !property.name.empty()) {
    ++pos;
    property.grouped = true;
    property.name = readName(line, pos);
  }
  if (property.name.empty()) return "is not a property line";
  while (pos < line.size() && line[pos] == ';') {
    ++pos;
    const std::string paramName = readName(line, pos);
    if (paramName.empty()) return "has a malformed parameter";
    // A bare parameter names an encoding the way 2.1 writes it; the server
    // knows BASE64 so only in upper case.
    if (paramName == "BASE64") property.base64 = true;
    if (equalsNoCase(paramName, "QUOTED-PRINTABLE")) property.quotedPrintable = true;
    const bool bare = pos >= line.size() || line[pos] != '=';
    // The server keeps only parameters with a value when it serves the card;
    // a bare BASE64 it reads as ENCODING=b only on some properties.
    if (bare && !equalsNoCase(paramName, "QUOTED-PRINTABLE")) {
      return "has the parameter " + paramName + " without a value, which the server drops";
    }
    if (!bare) {
      do {
        ++pos;
        std::string value;
        if (!readParamValue(line, pos, value)) return "has a malformed parameter value";
        if (value.empty() && !equalsNoCase(paramName, "ENCODING")) {
          return "has an empty value of the parameter " + paramName + ", which the server drops";
        }
        if (equalsNoCase(paramName, "ENCODING")) {
          if (equalsNoCase(value, "QUOTED-PRINTABLE")) {
            property.quotedPrintable = true;
          } else if (equalsNoCase(value, "B")) {
            property.base64 = true;
          } else {
            property.unknownEncoding = true;
          }
        }
      } while (pos < line.size() && line[pos] == ',');
    }
  }
  if (pos >= line.size() || line[pos] != ':') return "has no ':' after its name and parameters";
  property.value = line.substr(pos + 1);
  return "";
}

bool isBlank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

std::string cardTextRefusal(const std::string& text) {
  if (text.empty()) return "empty text";
  if (!isValidUtf8(text)) return "not valid UTF-8";
  // A NUL would cut the text short for a C reader; the next edit would lose
  // what follows it.
  if (hasControlCharacter(text, "\t\r\n")) return "control character";
  if (hasLoneCrOrLf(text)) return "lone CR or LF";
  static const char kEnd[] = "END:VCARD\r\n";
  if (text.size() < sizeof(kEnd) - 1 ||
      text.compare(text.size() - (sizeof(kEnd) - 1), std::string::npos, kEnd) != 0) {
    return "does not end with END:VCARD and CR LF";
  }

  // Physical lines, the final CR LF being the last line's terminator.
  std::vector<std::string> lines;
  const size_t bodyEnd = text.size() - 2;
  for (size_t start = 0;;) {
    const size_t crlf = text.find("\r\n", start);
    if (crlf == std::string::npos || crlf >= bodyEnd) {
      lines.push_back(text.substr(start, bodyEnd - start));
      break;
    }
    lines.push_back(text.substr(start, crlf - start));
    start = crlf + 2;
  }
  if (lines.front() != "BEGIN:VCARD") return "first line is not BEGIN:VCARD";
  if (lines.size() < 2 || lines.back() != "END:VCARD") return "last line is not END:VCARD";

  // Unfold: a line beginning with space or tab continues the one before.
  // Checks run on the unfolded lines, as the server will read them.
  bool hasUid = false;
  // The CardDAV server refuses a card without FN or with a second N, FN, UID,
  // VERSION or PRODID; names are counted whatever their group or letter case.
  static const char* const kSingleNames[] = {"N", "FN", "UID", "VERSION", "PRODID"};
  int singleCounts[5] = {0, 0, 0, 0, 0};
  for (size_t i = 1; i + 1 < lines.size();) {
    const std::string where = "line " + std::to_string(i + 1) + " ";
    if (lines[i].empty()) return where + "is empty";
    if (lines[i][0] == ' ' || lines[i][0] == '\t') {
      if (i == 1) return where + "folds the BEGIN:VCARD line";
      return where + "is not a property line";
    }
    std::string logical = lines[i];
    size_t next = i + 1;
    for (; next + 1 < lines.size() && !lines[next].empty() &&
           (lines[next][0] == ' ' || lines[next][0] == '\t');
         ++next) {
      logical.append(lines[next], 1, std::string::npos);
    }
    Property property;
    const std::string fault = parseProperty(logical, property);
    if (!fault.empty()) return where + fault;
    if (equalsNoCase(property.name, "BEGIN") || equalsNoCase(property.name, "END")) {
      return where + "is a BEGIN or END line inside the card";
    }
    if (property.quotedPrintable) return where + "uses ENCODING=QUOTED-PRINTABLE";
    if (property.unknownEncoding) return where + "names an ENCODING other than b";
    if (property.base64 && !isStrictBase64(property.value)) {
      return where + "holds base64 that does not decode";
    }
    // The server reads these three as calendar properties, which take no group.
    if (property.grouped &&
        (equalsNoCase(property.name, "UID") || equalsNoCase(property.name, "PRODID") ||
         equalsNoCase(property.name, "CATEGORIES"))) {
      return where + "has a group on UID, PRODID or CATEGORIES";
    }
    // The server takes PROFILE for the card's own profile and fails the card.
    if (equalsNoCase(property.name, "PROFILE")) return where + "is a PROFILE line";
    if (equalsNoCase(property.name, "ORG") && hasUnescapedComma(property.value)) {
      return where + "has an unescaped ',' in ORG";
    }
    // The server decodes base64 only of one-text values; N, ADR, ORG and
    // CATEGORIES it would serve as the encoded text.
    if (property.base64 &&
        (equalsNoCase(property.name, "N") || equalsNoCase(property.name, "ADR") ||
         equalsNoCase(property.name, "ORG") || equalsNoCase(property.name, "CATEGORIES"))) {
      return where + "is an encoded " + property.name;
    }
    if (!property.base64) {
      const std::string served = servedValueFault(property.name, property.value);
      if (!served.empty()) return where + served;
    }
    if (equalsNoCase(property.name, "UID")) {
      // The server reads UID as a list and keeps its first text, and gives
      // an encoded one as bytes: ",x" has no UID for it.
      if (property.base64) return where + "is an encoded UID";
      if (!isBlank(property.value.substr(0, unescapedCommaAt(property.value)))) hasUid = true;
    }
    for (int n = 0; n < 5; ++n) {
      if (!equalsNoCase(property.name, kSingleNames[n])) continue;
      if (++singleCounts[n] > 1) return where + "is a second " + kSingleNames[n] + " line";
    }
    i = next;
  }
  if (!hasUid) return "no UID";
  if (singleCounts[1] == 0) return "no FN";
  return "";
}

}  // namespace orva_store
