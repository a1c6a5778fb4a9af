#include "vcard/card_identity.h"

#include <algorithm>
#include <vector>

#include "vcard/card_lines.h"
#include "vcard/content_line.h"
#include "vcard/property_name.h"
#include "vcard/text_escape.h"

namespace orva_vcard {

namespace {

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool ignored(std::string_view name) {
  return nameIs(name, "BEGIN") || nameIs(name, "END") || nameIs(name, "UID") ||
         nameIs(name, "REV") || nameIs(name, "PRODID") || nameIs(name, "PRODUCTID") ||
         nameIs(name, "VERSION");
}

// A text value spelled one way: escaped as the writer escapes it.
std::string textValue(std::string_view name, std::string_view value) {
  if (nameIs(name, "ORG") || nameIs(name, "N") || nameIs(name, "ADR")) {
    return escaped(value, TextSeparators::kComponents);
  }
  if (nameIs(name, "FN") || nameIs(name, "NOTE") || nameIs(name, "TITLE")) {
    return escaped(value);
  }
  return std::string(value);
}

std::string canonicalLine(std::string_view line) {
  const ContentLine content = splitContentLine(line);
  if (!content.hasValue || ignored(content.name)) return std::string();
  std::vector<std::string> types;
  std::vector<std::string> others;
  forEachParameter(content.parameters, [&](std::string_view parameter) {
    if (isTypeParameter(parameter)) {
      forEachTypeValue(parameter, [&](std::string_view value, bool quoted) {
        std::string type;
        if (quoted) {
          appendUnquoted(type, value);
        } else {
          type.assign(value);
        }
        types.push_back(upper(type));
      });
    } else {
      const std::string_view name = parameterName(parameter);
      others.push_back(upper(name) + std::string(parameter.substr(name.size())));
    }
  });
  std::sort(types.begin(), types.end());
  types.erase(std::unique(types.begin(), types.end()), types.end());
  std::sort(others.begin(), others.end());
  std::string out = lower(content.group) + "." + upper(content.name) + ";TYPE=";
  for (const std::string& type : types) out += type + ",";
  for (const std::string& other : others) out += ";" + other;
  out += ":";
  // A value that ends in empty components reads the same without them.
  std::string value = textValue(content.name, content.value);
  if (nameIs(content.name, "N") || nameIs(content.name, "ORG")) {
    while (!value.empty() && value.back() == ';' &&
           (value.size() < 2 || value[value.size() - 2] != '\\')) {
      value.pop_back();
    }
  }
  // An empty NOTE or N is no property (the writer always writes one).
  if (value.empty() && (nameIs(content.name, "NOTE") || nameIs(content.name, "N"))) {
    return std::string();
  }
  return out + value;
}

}  // namespace

std::string cardIdentity(std::string_view cardText) {
  std::vector<std::string> lines;
  LineWalker walker(cardText);
  for (std::string_view line; walker.next(line);) {
    std::string canonical = canonicalLine(line);
    if (!canonical.empty()) lines.push_back(std::move(canonical));
  }
  std::sort(lines.begin(), lines.end());
  std::string identity;
  for (const std::string& line : lines) identity += line + "\n";
  return identity;
}

}  // namespace orva_vcard
