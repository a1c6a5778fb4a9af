#include "contacts/vcard_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "vcard/byte_search.h"
#include "vcard/content_line.h"
#include "vcard/property_name.h"
#include "vcard/quoted_printable.h"
#include "vcard/servable_line.h"
#include "vcard/text_escape.h"
#include "vcard/vcard21_line.h"

namespace orva_contacts {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool startsWith(std::string_view line, std::string_view prefix) {
  return line.substr(0, prefix.size()) == prefix;
}

// A card marker at the start of the line, in any letter case.
bool isMarker(std::string_view line, std::string_view upperMarker) {
  return orva_vcard::nameIs(line.substr(0, upperMarker.size()), upperMarker);
}

// The VERSION line of a 2.1 card (or of the 1.0 drafts before it).
bool isVersionBefore30(std::string_view line) {
  std::string_view value = line.substr(line.find(':') + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  return !value.empty() && (value.front() == '1' || value.front() == '2');
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

LineReader::LineReader(int fd, std::size_t maxLineBytes)
    : fd_(fd), maxLineBytes_(maxLineBytes), buffer_(kReadChunk) {}

bool LineReader::fill() {
  if (finished_) return false;
  ssize_t got;
  do {
    got = ::read(fd_, buffer_.data(), buffer_.size());
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    finished_ = true;
    return false;
  }
  start_ = 0;
  end_ = static_cast<std::size_t>(got);
  return true;
}

LineReader::Status LineReader::next(std::string& line) {
  line.clear();
  bool skipping = false;
  for (;;) {
    if (start_ == end_ && !fill()) {
      if (skipping) return Status::kTooLong;
      return line.empty() ? Status::kEnd : Status::kLine;
    }
    if (afterCr_) {
      // The rest of a run of CRs, and one LF after it, end the same line.
      while (start_ < end_ && buffer_[start_] == '\r') ++start_;
      if (start_ == end_) continue;
      if (buffer_[start_] == '\n') ++start_;
      afterCr_ = false;
      continue;
    }
    const char* chunk = buffer_.data() + start_;
    const std::size_t available = end_ - start_;
    const std::size_t take = orva_vcard::findAnyOf<'\n', '\r'>({chunk, available}, 0);
    const char* lineEnd = take < available ? chunk + take : nullptr;
    if (!skipping) {
      if (line.size() + take > maxLineBytes_) {
        skipping = true;
        line.clear();
      } else {
        line.append(chunk, take);
      }
    }
    start_ += take;
    if (lineEnd) {
      ++start_;
      if (*lineEnd == '\r') {
        // Most often the LF is right here: taken now, not on the next call.
        while (start_ < end_ && buffer_[start_] == '\r') ++start_;
        if (start_ < end_ && buffer_[start_] == '\n') ++start_;
        afterCr_ = start_ == end_;
      }
      return skipping ? Status::kTooLong : Status::kLine;
    }
  }
}

CardAssembler::CardAssembler(NameSource nameSource, CardSink cardSink, LineDropped lineDropped,
                             std::size_t maxCardBytes, LineDropped lineRepaired)
    : nameSource_(std::move(nameSource)),
      cardSink_(std::move(cardSink)),
      lineDropped_(std::move(lineDropped)),
      lineRepaired_(std::move(lineRepaired)),
      maxCardBytes_(maxCardBytes) {}

void CardAssembler::dropCard() {
  inCard_ = false;
  hasProperty_ = false;
  lines_.clear();
  lineEnds_.clear();
  property_.clear();
}

void CardAssembler::startCard() {
  dropCard();
  name_ = nameSource_();
  inCard_ = true;
  version21_ = false;
  sourceUid_.clear();
}

void CardAssembler::addLine(std::string_view line) {
  if (stopped_) return;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!inCard_ && startsWith(line, kByteOrderMark)) line.remove_prefix(kByteOrderMark.size());
  // The rest of a begin line is not taken, nor anything folded onto it.
  if (isMarker(line, "BEGIN:VCARD")) {
    startCard();
    return;
  }
  if (!inCard_) return;
  if (isMarker(line, "END:VCARD")) {
    endProperty();
    finishCard();
    return;
  }
  if (hasProperty_ && propertyQuotedPrintable_ && orva_vcard::endsWithSoftBreak(property_)) {
    property_.pop_back();
    continueProperty(line);
    return;
  }
  if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
    continueProperty(line.substr(1));
    return;
  }
  if (line.find(':') == std::string_view::npos) {
    continueProperty(line);
    return;
  }
  endProperty();
  startProperty(line);
}

void CardAssembler::startProperty(std::string_view line) {
  const std::string_view name = orva_vcard::propertyName(line);
  hasProperty_ = true;
  // PROFILE says only "VCARD", and the CardDAV server refuses a card with it.
  propertyDropped_ = orva_vcard::nameIs(name, "UID") || orva_vcard::nameIs(name, "VERSION") ||
                     orva_vcard::nameIs(name, "REV") || orva_vcard::nameIs(name, "PROFILE");
  propertyQuotedPrintable_ = orva_vcard::namesQuotedPrintable(line);
  property_.assign(line);
}

void CardAssembler::continueProperty(std::string_view piece) {
  // With nothing to continue (just after the begin line) the piece goes.
  if (!hasProperty_) return;
  if (lines_.size() + property_.size() + piece.size() > maxCardBytes_) {
    dropCard();
    return;
  }
  property_.append(piece);
}

void CardAssembler::endProperty() {
  if (!hasProperty_) return;
  hasProperty_ = false;
  if (propertyDropped_) {
    const std::string_view name = orva_vcard::propertyName(property_);
    if (orva_vcard::nameIs(name, "VERSION")) {
      version21_ = isVersionBefore30(property_);
    } else if (orva_vcard::nameIs(name, "UID") && sourceUid_.empty()) {
      sourceUid_ = orva_vcard::splitContentLine(property_).value;
    }
    return;
  }
  if (lines_.size() + property_.size() > maxCardBytes_) {
    dropCard();
    return;
  }
  lines_.append(property_);
  lineEnds_.push_back(lines_.size());
}

void CardAssembler::dropLine(std::string_view line, std::string_view reason) {
  if (lineDropped_) lineDropped_(orva_vcard::propertyName(line), reason);
}

void CardAssembler::finishCard() {
  if (!inCard_) return;
  text_.assign("BEGIN:VCARD\r\n");
  cardName_.clear();
  for (std::size_t start = 0, i = 0; i < lineEnds_.size(); start = lineEnds_[i++]) {
    const std::string_view line(lines_.data() + start, lineEnds_[i] - start);
    if (!orva_vcard::nameIs(orva_vcard::propertyName(line), "FN")) continue;
    cardName_ = orva_vcard::unescaped(orva_vcard::splitContentLine(line).value.substr(0, 256));
    break;
  }
  bool hasFullName = false;
  bool hasName = false;
  bool hasProductId = false;
  std::size_t start = 0;
  for (const std::size_t end : lineEnds_) {
    const std::string_view line(lines_.data() + start, end - start);
    start = end;
    // One line that the CardDAV server cannot load would spoil the whole
    // address book; that line goes, the rest of the card stays.
    const std::size_t lineStart = text_.size();
    orva_vcard::LineRepair repair;
    std::string_view fault = orva_vcard::appendLineAs30(line, version21_, decoder_, text_, repair);
    if (fault.empty()) {
      fault = orva_vcard::unservableLine(std::string_view(text_).substr(lineStart));
      if (!fault.empty()) text_.resize(lineStart);
    }
    if (!fault.empty()) {
      dropLine(line, fault);
      continue;
    }
    // Counted by the name as written: a repair may give a line the name of
    // one the card has already (a blank before the colon, say).
    const std::string_view name =
        orva_vcard::propertyName(std::string_view(text_).substr(lineStart));
    const bool isFullName = orva_vcard::nameIs(name, "FN");
    const bool isName = orva_vcard::nameIs(name, "N");
    const bool isProductId = orva_vcard::nameIs(name, "PRODID");
    if ((isFullName && hasFullName) || (isName && hasName) || (isProductId && hasProductId)) {
      text_.resize(lineStart);
      dropLine(line, "is a second FN, N or PRODID");
      continue;
    }
    if (repair != orva_vcard::LineRepair::kNone && lineRepaired_) {
      lineRepaired_(orva_vcard::propertyName(line), orva_vcard::repairText(repair));
    }
    hasFullName = hasFullName || isFullName;
    hasName = hasName || isName;
    hasProductId = hasProductId || isProductId;
    text_.append("\r\n");
  }
  // Rewriting may lengthen the text (escapes, wider characters).
  if (text_.size() > maxCardBytes_) {
    dropCard();
    return;
  }
  // vCard 3.0 requires FN; a card without one would spoil the whole address
  // book for CardDAV clients.
  if (!hasFullName) text_.append("FN:\r\n");
  text_.append("VERSION:3.0\r\nUID:").append(name_).append("\r\nEND:VCARD\r\n");
  dropCard();
  if (!cardSink_(name_, text_)) stopped_ = true;
}

bool readVCardFile(const std::string& path, CardAssembler& assembler, std::size_t maxLineBytes) {
  // Only regular files are read: a FIFO or device could block the request or
  // never end. The type is checked before opening and again on the open file.
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return false;
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;

  LineReader reader(file.get(), maxLineBytes);
  std::string line;
  while (!assembler.stopped()) {
    switch (reader.next(line)) {
      case LineReader::Status::kLine:
        assembler.addLine(line);
        break;
      case LineReader::Status::kTooLong:
        assembler.dropCard();
        break;
      case LineReader::Status::kEnd:
        return true;
    }
  }
  return true;
}

}  // namespace orva_contacts
