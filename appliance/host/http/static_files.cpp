#include "appliance/host/http/static_files.h"

#include <climits>
#include <cstdlib>
#include <vector>

#include "appliance/base/file_io.h"

namespace orva_host {

namespace {

// The page loads only its own files and talks only to this server.
constexpr const char* kContentSecurityPolicy =
    "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
    "frame-ancestors 'none'; form-action 'self'";

HttpAnswer notFound() {
  HttpAnswer answer;
  answer.status = 404;
  answer.contentType = "text/plain";
  answer.body = "Not found\n";
  return answer;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every segment a plain, visible name.
bool isPlainPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(start, end - start);
    if (segment.empty() || segment[0] == '.') return false;
    for (const char c : segment) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\') return false;
    }
    start = end + 1;
  }
  return true;
}

std::string realPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return "";
  return resolved;
}

}  // namespace

std::string contentTypeFor(const std::string& name) {
  static const std::vector<std::pair<std::string, std::string>> kTypes = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".json", "application/json"},
      {".txt", "text/plain; charset=utf-8"},
      {".woff2", "font/woff2"},
  };
  for (const auto& type : kTypes) {
    if (endsWith(name, type.first)) return type.second;
  }
  return "application/octet-stream";
}

HttpAnswer staticFileAnswer(const std::string& folder, const std::string& path) {
  const std::string wanted = path == "/" ? "/index.html" : path;
  if (folder.empty() || !isPlainPath(wanted)) return notFound();
  const std::string base = realPath(folder);
  const std::string file = realPath(folder + wanted);
  if (base.empty() || file.empty() || file.compare(0, base.size() + 1, base + "/") != 0) {
    return notFound();
  }
  HttpAnswer answer;
  // readWhole refuses folders and anything else that is not a regular file.
  if (!orva_file::readWhole(file, answer.body)) return notFound();
  answer.contentType = contentTypeFor(wanted);
  answer.headers = {{"Cache-Control", "no-store"},
                    {"X-Content-Type-Options", "nosniff"},
                    {"Content-Security-Policy", kContentSecurityPolicy}};
  return answer;
}

}  // namespace orva_host
