// One vCard content line taken apart without copying:
// [group.]name[;param]*:value. Parameter values may be double-quoted, and a
// quoted value may hold ';', ':' and ','.
#pragma once

#include <string_view>

#include "vcard/byte_search.h"
#include "vcard/property_name.h"

namespace orva_vcard {

struct ContentLine {
  std::string_view group;        // "item1" of "item1.TEL;...", empty when none
  std::string_view name;         // letter case as written
  std::string_view groupedName;  // group, '.' and name: "item1.TEL"
  std::string_view parameters;   // from the first ';' after the name up to the value's ':'
  std::string_view value;        // everything after that ':'
  bool hasValue = false;         // the line holds a ':'
};

// Splits a line. The value starts after the first ':' that is outside a
// double-quoted parameter value; a line whose quotes never close falls back
// to the first ':' after the name, so hasValue is true exactly when the line
// holds a ':'.
ContentLine splitContentLine(std::string_view line);

// Calls visit(parameter) for each parameter of the parameters text, split at
// ';' outside quotes, in order; empty parameters (";;") are skipped.
template <typename Visit>
void forEachParameter(std::string_view parameters, Visit&& visit);

// The name of a parameter: the text before its '=' (all of it when none).
std::string_view parameterName(std::string_view parameter);

// True for a TYPE parameter ("type=", any letter case, with its '=').
inline bool isTypeParameter(std::string_view parameter) {
  return parameter.size() >= 5 && parameter[4] == '=' && nameIs(parameter.substr(0, 4), "TYPE");
}

// Calls visit(value, quoted) for each value listed by a TYPE parameter: the
// text after '=' split at every ',', empty values skipped; quoted is true
// when the value holds a '"', which the caller removes. TYPE=CELL,VOICE and
// TYPE="cell,voice" both list two values.
template <typename Visit>
void forEachTypeValue(std::string_view parameter, Visit&& visit);

// The text with every '"' removed, appended to out.
template <typename String>
void appendUnquoted(String& out, std::string_view text) {
  for (char c : text) {
    if (c != '"') out.push_back(c);
  }
}

template <typename Visit>
void forEachParameter(std::string_view parameters, Visit&& visit) {
  const char* const text = parameters.data();
  const std::size_t size = parameters.size();
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t at = 0;; ++at) {
    at = quoted ? findAnyOf<'"'>(parameters, at) : findAnyOf<';', '"'>(parameters, at);
    if (at == size) break;
    if (text[at] == '"') {
      quoted = !quoted;
      continue;
    }
    if (at > start) visit(std::string_view(text + start, at - start));
    start = at + 1;
  }
  if (size > start) visit(std::string_view(text + start, size - start));
}

template <typename Visit>
void forEachTypeValue(std::string_view parameter, Visit&& visit) {
  const char* const text = parameter.data();
  const std::size_t size = parameter.size();
  // A short plain loop: TYPE parameters have their '=' fifth.
  std::size_t start = 0;
  while (start < size && text[start] != '=') ++start;
  if (start == size) return;
  ++start;
  bool quoted = false;
  for (std::size_t at = start;; ++at) {
    at = findAnyOf<',', '"'>(parameter, at);
    if (at < size && text[at] == '"') {
      quoted = true;
      continue;
    }
    const std::string_view value(text + start, at - start);
    if (!value.empty() && (!quoted || value.find_first_not_of('"') != std::string_view::npos)) {
      visit(value, quoted);
    }
    if (at == size) break;
    start = at + 1;
    quoted = false;
  }
}

}  // namespace orva_vcard
