// An uploaded file opened for an import, and what kind of file it is: the
// kind is told by its content, never by its name.
#pragma once

#include <string>

namespace orva_contacts {

// A regular file open for reading (a directory, FIFO or device is never
// opened, so it cannot block); closed with the object.
class ImportFile {
 public:
  explicit ImportFile(const std::string& path);
  ~ImportFile();
  ImportFile(const ImportFile&) = delete;
  ImportFile& operator=(const ImportFile&) = delete;
  // -1 when the path is not a regular file that can be read.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

enum class ImportFormat {
  kEmpty,      // nothing but blanks and line breaks
  kVCard,      // a "BEGIN:VCARD" line near the start
  kICalendar,  // a "BEGIN:VCALENDAR" line near the start
  kCsv,        // text whose first line holds a ',', ';' or tab
  kOther,      // none of these (or unreadable)
};

// Looks at the file's first 64 KB (read with pread: the position stays).
ImportFormat importFormatOf(int fd);

// What the import expects, for the answer to a file of another kind.
constexpr const char* kExpectedFormats =
    "expected a vCard file (BEGIN:VCARD ... END:VCARD), a CSV file with a header row, or an "
    "iCalendar file (BEGIN:VCALENDAR)";

}  // namespace orva_contacts
