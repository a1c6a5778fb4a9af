#include "vcard/servable_line.h"

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

bool hasControlCharacter(std::string_view line) {
  for (const char c : line) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
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
    if (pos >= line.size() || line[pos] != '=') continue;
    do {
      ++pos;
      std::string_view value;
      if (!skipParameterValue(line, pos, value)) return "has a malformed parameter value";
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
  if (nameIs(name, "ORG") && hasUnescapedComma(value)) return "has an unescaped ',' in ORG";
  return std::string_view();
}

}  // namespace orva_vcard
