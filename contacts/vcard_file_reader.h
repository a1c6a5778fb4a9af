// Streaming reader of an uploaded vCard file: cuts it into lines of any
// length (up to a limit) and rebuilds each card as the text the store keeps.
// The file is never held whole: one line and one card are in memory.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "vcard/charset_to_utf8.h"

namespace orva_contacts {

constexpr std::size_t kMaxLineBytes = std::size_t{16} << 20;
// A card larger than this is dropped, so that one upload cannot make the
// process hold an unbounded text.
constexpr std::size_t kMaxCardBytes = std::size_t{64} << 20;

// Lines out of an open file descriptor (not owned). A line ends at an LF, at
// a CR, or at a run of CRs with one LF after it (exporters write CR LF,
// CR CR LF and lone CRs); the line end is not part of the line. A last line
// without a line end is still a line.
class LineReader {
 public:
  enum class Status { kLine, kTooLong, kEnd };

  LineReader(int fd, std::size_t maxLineBytes);

  // kLine: line holds the next line. kTooLong: a line longer than the limit
  // was skipped up to its LF (line is empty). kEnd: end of file or a read error.
  Status next(std::string& line);

 private:
  bool fill();

  int fd_;
  std::size_t maxLineBytes_;
  std::vector<char> buffer_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  bool finished_ = false;
  // The last line ended at a CR: more CRs and an LF may still belong to it.
  bool afterCr_ = false;
};

// Builds card texts from lines, one card at a time:
//  - a line beginning with "BEGIN:VCARD" (any letter case) starts a card,
//    dropping an unfinished one, and draws its resource name; a UTF-8
//    byte-order mark before it (the file's start) is skipped;
//  - lines outside a card are ignored;
//  - a line beginning with a space or tab continues the line before: that one
//    blank goes, the rest joins it; so does a line without a colon, whole;
//  - after a quoted-printable line ending in '=' (a soft break), the next
//    line joins it whatever it holds, the '=' removed;
//  - UID, VERSION, REV and PROFILE lines (by property name, any letter case,
//    with a group or parameters) are dropped with what continues them;
//  - every other line is rewritten as vCard 3.0 (see appendLineAs30), as 2.1
//    text when the card's VERSION is before 3.0, and CR LF ended; a line mended on the way is
//    reported to lineRepaired;
//  - a line that cannot be rewritten, or that the CardDAV server would not
//    load (see unservableLine), and a second FN, N or PRODID line, are dropped and
//    reported to lineDropped; the rest of the card is kept;
//  - a line beginning with "END:VCARD" (any letter case) closes the card: an
//    empty "FN:" line if it has none, then "VERSION:3.0", "UID:<name>" and
//    "END:VCARD".
// The markers of the text handed on are always upper case.
class CardAssembler {
 public:
  // Draws the resource name of a card at its begin marker.
  using NameSource = std::function<std::string()>;
  // Takes one finished card: its resource name and text. False stops the
  // assembler: every later line is ignored.
  using CardSink = std::function<bool(const std::string& name, const std::string& text)>;
  // Told of each line left out of a card, or mended: its property name and
  // why. cardName() names the card meanwhile.
  using LineDropped = std::function<void(std::string_view name, std::string_view reason)>;

  CardAssembler(NameSource nameSource, CardSink cardSink, LineDropped lineDropped = nullptr,
                std::size_t maxCardBytes = kMaxCardBytes, LineDropped lineRepaired = nullptr);

  // One line without its line end (a trailing CR is allowed).
  void addLine(std::string_view line);
  // True once the sink has stopped the assembler.
  bool stopped() const { return stopped_; }
  // The UID the card being finished had in the file ("" when none): read by
  // the sink, since the card text handed on carries a fresh one.
  const std::string& sourceUid() const { return sourceUid_; }
  // The FN of the card being finished, as a person reads it ("" when none).
  const std::string& cardName() const { return cardName_; }
  // The card in progress cannot be read whole (a line was too long): it is
  // dropped and its remaining lines are ignored up to the next begin marker.
  void dropCard();

 private:
  void startCard();
  void startProperty(std::string_view line);
  void continueProperty(std::string_view piece);
  void endProperty();
  void finishCard();
  void dropLine(std::string_view line, std::string_view reason);

  NameSource nameSource_;
  CardSink cardSink_;
  LineDropped lineDropped_;
  LineDropped lineRepaired_;
  bool stopped_ = false;
  std::size_t maxCardBytes_;
  bool inCard_ = false;
  std::string name_;
  // The card's own lines, unfolded and not yet rewritten: the version that
  // decides how to read them may come last.
  std::string lines_;
  std::vector<std::size_t> lineEnds_;
  bool version21_ = false;
  std::string cardName_;
  // The line being unfolded.
  bool hasProperty_ = false;
  bool propertyDropped_ = false;
  bool propertyQuotedPrintable_ = false;
  std::string property_;
  std::string sourceUid_;
  // The text handed on, kept to reuse its memory.
  std::string text_;
  orva_vcard::Utf8Decoder decoder_;
};

// Feeds every line of the file at path to assembler, until its end or until
// the assembler stops. False, with nothing
// fed, when the path cannot be opened as a regular file (a directory, FIFO or
// device counts as unopenable and is never read, so it cannot block).
bool readVCardFile(const std::string& path, CardAssembler& assembler,
                   std::size_t maxLineBytes = kMaxLineBytes);

}  // namespace orva_contacts
