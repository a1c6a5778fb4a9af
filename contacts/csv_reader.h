// Rows of an uploaded CSV address book, read as a stream: the file is never
// held whole, one row is in memory at a time. Exporters write CSV in several
// shapes: UTF-8 with or without a byte-order mark, UTF-16 ("Unicode" CSV)
// and Windows-1252; ',', ';' or tab between fields; fields in double quotes
// that hold separators, doubled quotes and line breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vcard/charset_to_utf8.h"

namespace orva_contacts {

enum class CsvEncoding { kUtf8, kWindows1252, kUtf16Le, kUtf16Be };

// A row longer than this cannot be read (it is skipped and counted): one
// upload must not make the process hold an unbounded text.
constexpr std::size_t kMaxCsvRowBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxCsvFields = 2000;

struct CsvRow {
  std::vector<std::string> fields;  // UTF-8, quotes and escapes undone
  std::uint64_t line = 0;           // the file's line the row begins on, from 1
};

class CsvReader {
 public:
  enum class Status {
    kRow,         // row holds the next row
    kUnreadable,  // a row that cannot be read (too long, too many fields,
                  // a quote never closed); row.line says where it began
    kEnd,         // end of the file or a read error
  };

  // Reads from fd (not owned). The encoding and the separator are decided
  // from the file's first 64 KB.
  explicit CsvReader(int fd);

  Status next(CsvRow& row);

  CsvEncoding encoding() const { return encoding_; }
  char separator() const { return separator_; }

 private:
  void start();
  bool readRaw(std::string& bytes, std::size_t size);
  bool fill();
  void appendText(const std::string& raw);
  void finishField(CsvRow& row);

  int fd_;
  bool started_ = false;
  bool rawEnd_ = false;
  CsvEncoding encoding_ = CsvEncoding::kUtf8;
  char separator_ = ',';
  // Text not yet split into rows: UTF-8 for UTF-16 files, else the file's bytes.
  std::string text_;
  std::size_t pos_ = 0;
  // A UTF-16 code unit or surrogate cut at the end of the last chunk.
  std::string pending_;
  std::uint64_t line_ = 1;
  bool afterCr_ = false;
  std::string field_;
  orva_vcard::Utf8Decoder decoder_;
  std::string converted_;
};

// The encoding of a file from its first bytes: a byte-order mark (whose
// length goes to markBytes), UTF-16 without one (every other byte zero), or
// for 8-bit text Windows-1252 when the sample is not UTF-8. wholeFile: the
// sample is the file's end too (no sequence may be cut at its end).
CsvEncoding csvEncodingOf(const std::string& sample, bool wholeFile, std::size_t& markBytes);

// The header's separator: the one of ',', ';' and tab found most often
// outside quotes in the first line of text (',' when none is).
char csvSeparatorOf(const std::string& text);

// UTF-16 bytes (whole code units) as UTF-8 appended to out; a surrogate
// without its other half becomes U+FFFD. A high surrogate at the very end
// is left out and its two bytes returned in rest, for the next chunk.
void appendUtf16AsUtf8(const std::string& bytes, bool bigEndian, std::string& out,
                       std::string& rest);

}  // namespace orva_contacts
