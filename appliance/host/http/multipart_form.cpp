#include "appliance/host/http/multipart_form.h"

#include <cctype>

namespace orva_host {

namespace {

constexpr size_t kMaxPartHeaderBytes = 8192;

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  const size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// The value of parameter name (lower case) in a header value such as
// `form-data; name="a"; filename="b.vcf"`. Quoted values may escape with a
// backslash. False when the parameter is absent.
bool headerParameter(const std::string& value, const std::string& name, std::string& out) {
  size_t at = value.find(';');
  while (at != std::string::npos && at < value.size()) {
    ++at;
    while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
    const size_t equals = value.find('=', at);
    if (equals == std::string::npos) return false;
    const std::string key = lowered(trimmed(value.substr(at, equals - at)));
    std::string text;
    size_t next = equals + 1;
    if (next < value.size() && value[next] == '"') {
      for (++next; next < value.size() && value[next] != '"'; ++next) {
        if (value[next] == '\\' && next + 1 < value.size()) ++next;
        text.push_back(value[next]);
      }
      if (next >= value.size()) return false;  // no closing quote
      next = value.find(';', next);
    } else {
      const size_t end = value.find(';', next);
      text = trimmed(value.substr(next, end == std::string::npos ? std::string::npos : end - next));
      next = end;
    }
    if (key == name) {
      out = text;
      return true;
    }
    at = next;
  }
  return false;
}

// Reads the header lines of one part (up to the empty line) into part's
// name and file name.
bool readPartHeaders(const std::string& block, FormPart& part, std::string& error) {
  bool disposition = false;
  size_t start = 0;
  while (start < block.size()) {
    size_t end = block.find("\r\n", start);
    if (end == std::string::npos) end = block.size();
    const std::string line = block.substr(start, end - start);
    start = end + 2;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      error = "a form field's header line has no colon";
      return false;
    }
    if (lowered(trimmed(line.substr(0, colon))) != "content-disposition") continue;
    const std::string value = trimmed(line.substr(colon + 1));
    if (lowered(value.substr(0, 9)) != "form-data" || !headerParameter(value, "name", part.name)) {
      error = "a form field is not form-data with a name";
      return false;
    }
    headerParameter(value, "filename", part.filename);
    disposition = true;
  }
  if (!disposition) error = "a form field has no Content-Disposition";
  return disposition;
}

}  // namespace

bool isMultipartForm(const std::string& contentType) {
  return lowered(trimmed(contentType.substr(0, contentType.find(';')))) == "multipart/form-data";
}

std::string multipartBoundary(const std::string& contentType) {
  std::string boundary;
  if (!headerParameter(contentType, "boundary", boundary)) return "";
  if (boundary.empty() || boundary.size() > 70) return "";
  for (const char c : boundary) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) return "";
  }
  return boundary;
}

bool parseMultipartForm(const std::string& body, const std::string& boundary, size_t maxParts,
                        std::vector<FormPart>& parts, std::string& error) {
  parts.clear();
  if (boundary.empty()) {
    error = "the form has no boundary";
    return false;
  }
  const std::string delimiter = "--" + boundary;
  const std::string inner = "\r\n" + delimiter;
  // The first delimiter opens the body or follows a preamble's line end.
  size_t at = body.compare(0, delimiter.size(), delimiter) == 0 ? 0 : body.find(inner);
  if (at == std::string::npos) {
    error = "the form's boundary is not in its body";
    return false;
  }
  at = body.compare(at, 2, "\r\n") == 0 ? at + inner.size() : at + delimiter.size();
  for (;;) {
    if (body.compare(at, 2, "--") == 0) return true;  // the closing delimiter
    // Transport padding may follow a delimiter before its line end.
    while (at < body.size() && (body[at] == ' ' || body[at] == '\t')) ++at;
    if (body.compare(at, 2, "\r\n") != 0) {
      error = "a form delimiter is not followed by a line end";
      return false;
    }
    at += 2;
    if (parts.size() >= maxParts) {
      error = "the form has more than " + std::to_string(maxParts) + " fields";
      return false;
    }
    const size_t headersEnd = body.find("\r\n\r\n", at);
    if (headersEnd == std::string::npos || headersEnd - at > kMaxPartHeaderBytes) {
      error = "a form field's headers do not end";
      return false;
    }
    FormPart part;
    if (!readPartHeaders(body.substr(at, headersEnd - at), part, error)) return false;
    const size_t contentStart = headersEnd + 4;
    const size_t contentEnd = body.find(inner, contentStart);
    if (contentEnd == std::string::npos) {
      error = "the form is cut short";
      return false;
    }
    part.content.assign(body, contentStart, contentEnd - contentStart);
    parts.push_back(std::move(part));
    at = contentEnd + inner.size();
  }
}

}  // namespace orva_host
