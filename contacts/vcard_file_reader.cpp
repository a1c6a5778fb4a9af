#include "contacts/vcard_file_reader.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace orva_contacts {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

bool startsWith(const std::string& line, const char* prefix) {
  return line.compare(0, std::strlen(prefix), prefix) == 0;
}

bool isFullNameLine(const std::string& line) {
  return line.size() >= 3 && ::strncasecmp(line.c_str(), "FN", 2) == 0 &&
         (line[2] == ':' || line[2] == ';');
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
    const char* chunk = buffer_.data() + start_;
    const std::size_t available = end_ - start_;
    const char* lineFeed = static_cast<const char*>(std::memchr(chunk, '\n', available));
    const std::size_t take = lineFeed ? static_cast<std::size_t>(lineFeed - chunk) : available;
    if (!skipping) {
      if (line.size() + take > maxLineBytes_) {
        skipping = true;
        line.clear();
      } else {
        line.append(chunk, take);
      }
    }
    start_ += take;
    if (lineFeed) {
      ++start_;
      return skipping ? Status::kTooLong : Status::kLine;
    }
  }
}

CardAssembler::CardAssembler(NameSource nameSource, CardSink cardSink, std::size_t maxCardBytes)
    : nameSource_(std::move(nameSource)),
      cardSink_(std::move(cardSink)),
      maxCardBytes_(maxCardBytes) {}

void CardAssembler::append(const char* data, std::size_t size) {
  if (!inCard_) return;
  if (text_.size() + size > maxCardBytes_) {
    dropCard();
    return;
  }
  text_.append(data, size);
}

void CardAssembler::dropCard() {
  inCard_ = false;
  text_.clear();
}

void CardAssembler::addLine(const std::string& line) {
  if (startsWith(line, "BEGIN:VCARD")) {
    name_ = nameSource_();
    text_.assign("BEGIN:VCARD");
    inCard_ = true;
    hasFullName_ = false;
    // The rest of the begin line is not taken, nor anything folded onto it.
    lastLineDropped_ = true;
    return;
  }
  if (!inCard_) return;

  if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
    if (lastLineDropped_) return;
    if (!text_.empty() && text_.back() == '\r') text_.pop_back();
    append(line.data() + 1, line.size() - 1);
    return;
  }
  if (startsWith(line, "UID:") || startsWith(line, "VERSION:") || startsWith(line, "REV:")) {
    lastLineDropped_ = true;
    return;
  }
  lastLineDropped_ = false;

  if (!text_.empty() && text_.back() == '\r') text_.pop_back();
  const bool isProperty = line.find(':') != std::string::npos;
  if (isProperty) append("\r\n", 2);
  if (startsWith(line, "END:VCARD")) {
    finishCard();
    return;
  }
  if (isProperty && isFullNameLine(line)) hasFullName_ = true;
  append(line.data(), line.size());
}

void CardAssembler::finishCard() {
  if (!inCard_) return;
  // vCard 3.0 requires FN; a card without one would spoil the whole address
  // book for CardDAV clients.
  if (!hasFullName_) text_.append("FN:\r\n");
  text_.append("VERSION:3.0\r\nUID:").append(name_).append("\r\nEND:VCARD\r\n");
  inCard_ = false;
  cardSink_(name_, text_);
  text_.clear();
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
  for (;;) {
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
}

}  // namespace orva_contacts
