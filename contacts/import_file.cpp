#include "contacts/import_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "contacts/csv_reader.h"

namespace orva_contacts {

namespace {

constexpr std::size_t kSampleBytes = 64 * 1024;

bool hasLineStarting(std::string_view text, std::string_view upperMarker) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t start = at;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    std::size_t i = 0;
    while (i < upperMarker.size() && start + i < text.size()) {
      char c = text[start + i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (c != upperMarker[i]) break;
      ++i;
    }
    if (i == upperMarker.size()) return true;
    const std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return false;
}

}  // namespace

ImportFile::ImportFile(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

ImportFile::~ImportFile() {
  if (fd_ >= 0) ::close(fd_);
}

ImportFormat importFormatOf(int fd) {
  if (fd < 0) return ImportFormat::kOther;
  std::string raw(kSampleBytes, '\0');
  std::size_t got = 0;
  while (got < raw.size()) {
    const ssize_t n = ::pread(fd, &raw[got], raw.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  raw.resize(got);
  std::string text;
  std::string rest;
  std::size_t mark = 0;
  const CsvEncoding encoding = csvEncodingOf(raw, got < kSampleBytes, mark);
  if (encoding == CsvEncoding::kUtf16Le || encoding == CsvEncoding::kUtf16Be) {
    appendUtf16AsUtf8(raw.substr(mark), encoding == CsvEncoding::kUtf16Be, text, rest);
  } else {
    text = raw.substr(mark);
  }
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return ImportFormat::kEmpty;
  if (hasLineStarting(text, "BEGIN:VCARD")) return ImportFormat::kVCard;
  if (hasLineStarting(text, "BEGIN:VCALENDAR")) return ImportFormat::kICalendar;
  // CSV: text (no NUL or other control bytes but line ends and tab) whose
  // first line that holds anything has a separator outside quotes.
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\r' && c != '\n') return ImportFormat::kOther;
  }
  const std::string firstLine = text.substr(text.find_first_not_of(" \t\r\n"));
  const char separator = csvSeparatorOf(firstLine);
  bool quoted = false;
  for (const char c : firstLine) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '\n' || c == '\r')) break;
    if (!quoted && c == separator) return ImportFormat::kCsv;
  }
  return ImportFormat::kOther;
}

}  // namespace orva_contacts
