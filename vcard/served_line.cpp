#include "vcard/served_line.h"

#include "vcard/content_line.h"
#include "vcard/property_name.h"

namespace orva_vcard {

TextShape valueShapeOf(std::string_view name) {
  if (nameIs(name, "N") || nameIs(name, "ORG") || nameIs(name, "ADR")) return TextShape::kCompound;
  if (nameIs(name, "CATEGORIES")) return TextShape::kList;
  return TextShape::kSingle;
}

bool appendServedParameter(std::string& out, std::string_view parameter) {
  const std::size_t equals = parameter.find('=');
  if (equals == std::string_view::npos) {
    if (parameter.empty()) return false;
    if (nameIs(parameter, "BASE64")) {
      out += "ENCODING=b";
    } else {
      if (!nameIs(parameter, "QUOTED-PRINTABLE")) out += "TYPE=";
      out.append(parameter);
    }
    return true;
  }
  const std::size_t start = out.size();
  out.append(parameter.substr(0, equals + 1));
  bool any = false;
  std::size_t from = equals + 1;
  bool quoted = false;
  for (std::size_t at = from; at <= parameter.size(); ++at) {
    if (at < parameter.size() && parameter[at] == '"') quoted = !quoted;
    if (at < parameter.size() && (parameter[at] != ',' || quoted)) continue;
    const std::string_view value = parameter.substr(from, at - from);
    if (!value.empty() && value != "\"\"") {
      if (any) out += ',';
      out.append(value);
      any = true;
    }
    from = at + 1;
  }
  if (!any) out.resize(start);
  return any;
}

namespace {

bool isBase64(std::string_view parameters) {
  bool base64 = false;
  forEachParameter(parameters, [&](std::string_view parameter) {
    const std::size_t equals = parameter.find('=');
    if (equals == std::string_view::npos) {
      base64 = base64 || nameIs(parameter, "BASE64");
    } else if (nameIs(parameter.substr(0, equals), "ENCODING")) {
      base64 = true;  // the store takes no other encoding
    }
  });
  return base64;
}

}  // namespace

bool appendServedLine(std::string& out, std::string_view line) {
  const ContentLine content = splitContentLine(line);
  if (!content.hasValue) {
    out.append(line);
    return false;
  }
  const std::size_t start = out.size();
  out.append(content.groupedName);
  forEachParameter(content.parameters, [&](std::string_view parameter) {
    const std::size_t before = out.size();
    out += ';';
    if (!appendServedParameter(out, parameter)) out.resize(before);
  });
  // The head as written against the line's own ("TEL;CELL" against
  // "TEL;TYPE=CELL", ";;" against nothing).
  bool changed =
      out.compare(start, std::string::npos,
                  line.substr(0, content.groupedName.size() + content.parameters.size())) != 0;
  out += ':';
  if (isBase64(content.parameters)) {
    out.append(content.value);
  } else if (nameIs(content.name, "N") || nameIs(content.name, "ADR")) {
    const std::size_t valueStart = out.size();
    appendComponents(out, content.value, nameIs(content.name, "N") ? 5 : 7);
    changed = changed || out.compare(valueStart, std::string::npos, content.value) != 0;
  } else {
    changed = appendServedText(out, content.value, valueShapeOf(content.name)) || changed;
  }
  if (!changed) {
    out.resize(start);
    out.append(line);
  }
  return changed;
}

void appendServedLines(std::string& out, std::string_view text) {
  std::string logical;
  std::size_t start = 0;
  while (start < text.size()) {
    // One logical line: its physical lines up to one that no blank continues.
    std::size_t end = start;
    logical.clear();
    for (bool first = true;; first = false) {
      const std::size_t crlf = text.find("\r\n", end);
      const std::size_t lineEnd = crlf == std::string_view::npos ? text.size() : crlf;
      logical.append(text.substr(first ? end : end + 1, lineEnd - (first ? end : end + 1)));
      end = crlf == std::string_view::npos ? text.size() : crlf + 2;
      if (end >= text.size() || (text[end] != ' ' && text[end] != '\t')) break;
    }
    const std::string_view whole = text.substr(start, end - start);
    const bool ended = whole.size() >= 2 && whole.substr(whole.size() - 2) == "\r\n";
    std::string mended;
    if (appendServedLine(mended, logical)) {
      out += mended;
      if (ended) out += "\r\n";
    } else {
      out.append(whole);
    }
    start = end;
  }
}

}  // namespace orva_vcard
