// Fuzz target for the import's file reader: the input is written to a file
// and read back through the line reader and card assembler, with the store's
// gate standing in for the store. Beyond not crashing: the lines must match a
// plain split of the input, and every finished card must carry its begin line
// and trailer, stay within the size limit, and be one the store's gate takes,
// whatever bytes, encodings and line shapes the file held.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "appliance/store/card_check.h"
#include "contacts/vcard_file_reader.h"

namespace {

// The input's file: an anonymous memory file made once per fuzzing process
// and rewritten per input, reached by its /proc path; nothing is left on disk.
int inputFd() {
  static const int fd = [] {
    const int made = ::memfd_create("orva-fuzz-import", MFD_CLOEXEC);
    if (made < 0) std::abort();
    return made;
  }();
  return fd;
}

const std::string& inputPath() {
  static const std::string path = "/proc/self/fd/" + std::to_string(inputFd());
  return path;
}

void writeInput(const uint8_t* data, size_t size) {
  const int fd = inputFd();
  if (::ftruncate(fd, 0) != 0) std::abort();
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (wrote <= 0) std::abort();
    done += static_cast<size_t>(wrote);
  }
}

// What the line reader should give: the input split at LF, at CR and at a
// run of CRs with one LF after it; a last line without a line end kept, an
// over-long line as a marker.
std::vector<std::string> plainSplit(const std::string& input, size_t maxLine) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < input.size()) {
    size_t end = start;
    while (end < input.size() && input[end] != '\n' && input[end] != '\r') ++end;
    const std::string line = input.substr(start, end - start);
    lines.push_back(line.size() > maxLine ? std::string("\0too long", 9) : line);
    if (end < input.size() && input[end] == '\r') {
      while (end < input.size() && input[end] == '\r') ++end;
      if (end < input.size() && input[end] == '\n') ++end;
    } else {
      ++end;
    }
    start = end;
  }
  return lines;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Small limits so that over-long lines and cards are reached too.
  const size_t maxLine = 64;
  const size_t maxCard = 512;
  writeInput(data, size);
  const std::string input(reinterpret_cast<const char*>(data), size);

  // The line reader against a plain split.
  {
    const int fd = ::open(inputPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    orva_contacts::LineReader reader(fd, maxLine);
    std::vector<std::string> lines;
    std::string line;
    for (;;) {
      const auto status = reader.next(line);
      if (status == orva_contacts::LineReader::Status::kEnd) break;
      lines.push_back(status == orva_contacts::LineReader::Status::kTooLong
                          ? std::string("\0too long", 9)
                          : line);
    }
    ::close(fd);
    // An empty last line without LF reads as the end, as with fgets.
    std::vector<std::string> expected = plainSplit(input, maxLine);
    if (lines != expected) __builtin_trap();
  }

  // The assembler with a stand-in store.
  for (const size_t cardLimit : {maxCard, orva_contacts::kMaxCardBytes}) {
    int drawn = 0;
    std::string lastName;
    orva_contacts::CardAssembler assembler(
        [&] { return lastName = "name-" + std::to_string(++drawn); },
        [&](const std::string& name, const std::string& text) {
          if (name != lastName) __builtin_trap();
          if (text.compare(0, 11, "BEGIN:VCARD") != 0) __builtin_trap();
          if (!endsWith(text, "\r\nVERSION:3.0\r\nUID:" + name + "\r\nEND:VCARD\r\n")) {
            __builtin_trap();
          }
          if (text.size() > cardLimit + 64 + name.size()) __builtin_trap();
          // Every card the import makes is one the store takes: a line it
          // would refuse is dropped, not the card.
          if (!orva_store::cardTextRefusal(text).empty()) __builtin_trap();
          return true;
        },
        nullptr, cardLimit);
    if (!orva_contacts::readVCardFile(inputPath(), assembler, maxLine)) __builtin_trap();
  }
  return 0;
}
