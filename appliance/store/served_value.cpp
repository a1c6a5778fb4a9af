#include "appliance/store/served_value.h"

#include <cstddef>

namespace orva_store {

namespace {

std::string upper(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

struct ValueShape {
  bool bareComma = false;      // a ',' that no backslash escapes
  bool escapedQuote = false;   // "\""
  bool endsInEscape = false;   // an unpaired backslash at the end
  std::size_t components = 1;  // parts between ';' that no backslash escapes
};

ValueShape shapeOf(const std::string& value) {
  ValueShape shape;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\') {
      if (i + 1 == value.size()) shape.endsInEscape = true;
      if (i + 1 < value.size() && value[i + 1] == '"') shape.escapedQuote = true;
      ++i;
    } else if (c == ',') {
      shape.bareComma = true;
    } else if (c == ';') {
      ++shape.components;
    }
  }
  return shape;
}

}  // namespace

std::string servedValueFault(const std::string& name, const std::string& value) {
  const std::string property = upper(name);
  const ValueShape shape = shapeOf(value);
  if (shape.endsInEscape) return "ends " + property + " in a lone '\\'";
  if (shape.escapedQuote) return "has '\\\"' in " + property;
  const bool listed =
      property == "N" || property == "ADR" || property == "ORG" || property == "CATEGORIES";
  if (!listed && shape.bareComma) return "has an unescaped ',' in " + property;
  if (property == "N" && shape.components > 5) return "has more than five N components";
  if (property == "ADR" && shape.components > 7) return "has more than seven ADR components";
  return "";
}

}  // namespace orva_store
