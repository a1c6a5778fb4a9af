#include "contacts/csv_reader.h"

#include <unistd.h>

#include <cerrno>

namespace orva_contacts {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

bool hasHighBytes(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The sample without a UTF-8 sequence that the chunk's end may have cut.
std::string_view withoutCutSequence(std::string_view sample) {
  std::size_t end = sample.size();
  std::size_t back = 0;
  while (end > 0 && back < 3 && (static_cast<unsigned char>(sample[end - 1]) & 0xC0) == 0x80) {
    --end;
    ++back;
  }
  if (end > 0 && static_cast<unsigned char>(sample[end - 1]) >= 0xC0)
    return sample.substr(0, end - 1);
  return sample;
}

void appendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

void appendUtf16AsUtf8(const std::string& bytes, bool bigEndian, std::string& out,
                       std::string& rest) {
  rest.clear();
  const std::size_t units = bytes.size() / 2;
  const auto unitAt = [&](std::size_t i) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t unit = unitAt(i);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == units) {
        rest = bytes.substr(2 * i, 2);
        break;
      }
      const std::uint32_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
      appendCodePoint(out, 0xFFFD);
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      appendCodePoint(out, 0xFFFD);
    } else {
      appendCodePoint(out, unit);
    }
  }
  if (bytes.size() % 2 != 0) rest.push_back(bytes.back());
}

char csvSeparatorOf(const std::string& text) {
  std::size_t commas = 0, semicolons = 0, tabs = 0;
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\n' || c == '\r') break;
    commas += c == ',';
    semicolons += c == ';';
    tabs += c == '\t';
  }
  if (tabs > commas && tabs >= semicolons) return '\t';
  if (semicolons > commas) return ';';
  return ',';
}

CsvReader::CsvReader(int fd) : fd_(fd) {}

bool CsvReader::readRaw(std::string& bytes, std::size_t size) {
  bytes.resize(size);
  std::size_t got = 0;
  while (got < size && !rawEnd_) {
    const ssize_t n = ::read(fd_, &bytes[got], size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      rawEnd_ = true;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return got > 0;
}

void CsvReader::appendText(const std::string& raw) {
  if (encoding_ == CsvEncoding::kUtf16Le || encoding_ == CsvEncoding::kUtf16Be) {
    const std::string joined = pending_ + raw;
    appendUtf16AsUtf8(joined, encoding_ == CsvEncoding::kUtf16Be, text_, pending_);
  } else {
    text_.append(raw);
  }
}

CsvEncoding csvEncodingOf(const std::string& sample, bool wholeFile, std::size_t& markBytes) {
  const auto startsWith = [&](std::string_view prefix) {
    return sample.compare(0, prefix.size(), prefix) == 0;
  };
  markBytes = 0;
  if (startsWith("\xFF\xFE")) {
    markBytes = 2;
    return CsvEncoding::kUtf16Le;
  }
  if (startsWith("\xFE\xFF")) {
    markBytes = 2;
    return CsvEncoding::kUtf16Be;
  }
  if (startsWith("\xEF\xBB\xBF")) {
    markBytes = 3;
    return CsvEncoding::kUtf8;
  }
  if (sample.size() >= 4 && sample[0] != 0 && sample[1] == 0 && sample[3] == 0) {
    return CsvEncoding::kUtf16Le;
  }
  if (sample.size() >= 4 && sample[0] == 0 && sample[2] == 0 && sample[1] != 0) {
    return CsvEncoding::kUtf16Be;
  }
  if (hasHighBytes(sample)) {
    const std::string_view checked =
        wholeFile ? std::string_view(sample) : withoutCutSequence(sample);
    if (!orva_vcard::isValidUtf8(checked)) return CsvEncoding::kWindows1252;
  }
  return CsvEncoding::kUtf8;
}

void CsvReader::start() {
  started_ = true;
  std::string sample;
  readRaw(sample, kReadChunk);
  std::size_t skip = 0;
  encoding_ = csvEncodingOf(sample, rawEnd_, skip);
  appendText(sample.substr(skip));
  separator_ = csvSeparatorOf(text_);
}

bool CsvReader::fill() {
  std::string raw;
  text_.clear();
  pos_ = 0;
  while (text_.empty()) {
    if (!readRaw(raw, kReadChunk)) return false;
    appendText(raw);
  }
  return true;
}

void CsvReader::finishField(CsvRow& row) {
  if (encoding_ == CsvEncoding::kWindows1252 && hasHighBytes(field_)) {
    field_ = decoder_.windows1252ToUtf8(field_);
  } else if (encoding_ == CsvEncoding::kUtf8 && hasHighBytes(field_)) {
    const std::string_view text = decoder_.textAsUtf8(field_, "", converted_);
    if (text.data() != field_.data()) field_.assign(text);
  }
  row.fields.push_back(std::move(field_));
  field_.clear();
}

CsvReader::Status CsvReader::next(CsvRow& row) {
  if (!started_) start();
  for (;;) {
    row.fields.clear();
    field_.clear();
    row.line = line_;
    bool inQuotes = false;
    bool quoteSeen = false;  // a quote inside quotes: closing, or the first of two
    bool fieldStart = true;
    bool blank = true;
    bool unreadable = false;
    std::size_t rowBytes = 0;
    bool ended = false;
    while (!ended) {
      if (pos_ == text_.size() && !fill()) {
        if (blank) return Status::kEnd;
        if (inQuotes && !quoteSeen) unreadable = true;
        break;
      }
      const char c = text_[pos_++];
      const bool lf = c == '\n';
      if (lf && afterCr_) {
        afterCr_ = false;
        continue;
      }
      afterCr_ = c == '\r';
      if (lf || c == '\r') ++line_;
      if (inQuotes) {
        if (!quoteSeen) {
          // Line breaks inside a field are kept as LF, whatever the file's.
          if (c == '"') {
            quoteSeen = true;
          } else if (!unreadable) {
            field_.push_back(c == '\r' ? '\n' : c);
          }
          blank = false;
          if (++rowBytes > kMaxCsvRowBytes) unreadable = true;
          continue;
        }
        quoteSeen = false;
        if (c == '"') {
          if (!unreadable) field_.push_back('"');
          continue;
        }
        inQuotes = false;  // the quote closed the field; c is read as outside
      }
      if (c == separator_) {
        if (row.fields.size() >= kMaxCsvFields) unreadable = true;
        if (!unreadable) finishField(row);
        field_.clear();
        fieldStart = true;
        blank = false;
        continue;
      }
      if (lf || c == '\r') {
        ended = true;
        continue;
      }
      blank = false;
      if (fieldStart && c == '"') {
        inQuotes = true;
        fieldStart = false;
        continue;
      }
      fieldStart = false;
      if (++rowBytes > kMaxCsvRowBytes) unreadable = true;
      if (!unreadable) field_.push_back(c);
    }
    if (blank) continue;  // an empty line is no row
    if (unreadable) {
      row.fields.clear();
      field_.clear();
      return Status::kUnreadable;
    }
    finishField(row);
    return Status::kRow;
  }
}

}  // namespace orva_contacts
