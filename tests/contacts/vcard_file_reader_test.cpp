// The import's line reader and card assembler, without a store: every card
// text is compared byte for byte.
#include "contacts/vcard_file_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_root.h"

namespace {

using orva_contacts::CardAssembler;
using orva_contacts::readVCardFile;

struct Imported {
  bool opened = false;
  int namesDrawn = 0;
  std::vector<std::pair<std::string, std::string>> cards;  // name, text
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& card : cards) out.push_back(card.second);
    return out;
  }
};

Imported importPath(const std::string& path, std::size_t maxLine = orva_contacts::kMaxLineBytes,
                    std::size_t maxCard = orva_contacts::kMaxCardBytes) {
  Imported result;
  CardAssembler assembler([&result] { return "n" + std::to_string(++result.namesDrawn); },
                          [&result](const std::string& name, const std::string& text) {
                            result.cards.emplace_back(name, text);
                            return true;
                          },
                          nullptr, maxCard);
  result.opened = readVCardFile(path, assembler, maxLine);
  return result;
}

Imported importText(const std::string& content, std::size_t maxLine = orva_contacts::kMaxLineBytes,
                    std::size_t maxCard = orva_contacts::kMaxCardBytes) {
  orva_test::TempRoot root;
  const std::string path = root.path() + "/upload.vcf";
  EXPECT_TRUE(orva_test::writeFile(path, content));
  return importPath(path, maxLine, maxCard);
}

// The text the store is handed: BEGIN, the kept lines, the trailer.
std::string stored(const std::string& name, std::initializer_list<const char*> lines) {
  std::string text = "BEGIN:VCARD\r\n";
  for (const char* line : lines) text.append(line).append("\r\n");
  return text + "VERSION:3.0\r\nUID:" + name + "\r\nEND:VCARD\r\n";
}

TEST(VCardFileReader, DropsOwnUidVersionRevAndNamesEachCardAfresh) {
  const Imported got = importText(
      "BEGIN:VCARD\r\nVERSION:2.1\r\nUID:old-1\r\nFN:Ann\r\nREV:2020-01-01\r\nTEL:1\r\n"
      "END:VCARD\r\nBEGIN:VCARD\r\nUID:old-2\r\nFN:Bob\r\nEND:VCARD\r\n");
  ASSERT_TRUE(got.opened);
  ASSERT_EQ(got.cards.size(), 2u);
  EXPECT_EQ(got.cards[0].first, "n1");
  EXPECT_EQ(got.cards[0].second, stored("n1", {"FN:Ann", "TEL:1"}));
  EXPECT_EQ(got.cards[1].second, stored("n2", {"FN:Bob"}));
}

TEST(VCardFileReader, CrLfAndLfFilesGiveTheSameText) {
  const std::string lf = "BEGIN:VCARD\nFN:Ann\nNOTE:one\n two\nEND:VCARD\n";
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const Imported a = importText(lf);
  const Imported b = importText(crlf);
  ASSERT_EQ(a.cards.size(), 1u);
  EXPECT_EQ(a.texts(), b.texts());
  EXPECT_EQ(a.cards[0].second, stored("n1", {"FN:Ann", "NOTE:onetwo"}));
}

TEST(VCardFileReader, FoldedLinesLoseExactlyOneBlankWhateverTheyHold) {
  const Imported got = importText(
      "BEGIN:VCARD\r\nFN:Ann\r\nURL:http://example.org/a\r\n /b:c\r\nNOTE:x\r\n\t  y\r\n"
      "NOTE:p\r\nq\r\nEND:VCARD\r\n");
  ASSERT_EQ(got.cards.size(), 1u);
  // The blank that folded the line goes; any further blank is the value's own.
  // A line with neither blank nor colon still joins the line before.
  EXPECT_EQ(got.cards[0].second,
            stored("n1", {"FN:Ann", "URL:http://example.org/a/b:c", "NOTE:x  y", "NOTE:pq"}));
}

TEST(VCardFileReader, ContinuationsOfDroppedLinesAreDroppedToo) {
  const Imported got = importText(
      "BEGIN:VCARD\r\n extra:begin\r\nUID:abc\r\n def:ghi\r\nFN:Ann\r\nREV:1\r\n 2\r\n"
      "VERSION:3.0\r\n 0\r\nEND:VCARD\r\n");
  ASSERT_EQ(got.cards.size(), 1u);
  EXPECT_EQ(got.cards[0].second, stored("n1", {"FN:Ann"}));
}

TEST(VCardFileReader, BackslashesAndLeadingTextAreKeptAsTheyStand) {
  const Imported got =
      importText("BEGIN:VCARD\r\nFN:A\\, B\r\nADR:;;Main St\\; 1\\\\2;;;;\r\nEND:VCARD\r\n");
  ASSERT_EQ(got.cards.size(), 1u);
  EXPECT_EQ(got.cards[0].second, stored("n1", {"FN:A\\, B", "ADR:;;Main St\\; 1\\\\2;;;;"}));
}

TEST(VCardFileReader, LinesOutsideCardsHaveNoEffect) {
  const Imported got = importText(
      "preamble\r\nEND:VCARD\r\nFN:Stray\r\nBEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD\r\n"
      "between:x\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:Bob\r\nEND:VCARD\r\ntrailer\r\n");
  EXPECT_EQ(got.texts(),
            (std::vector<std::string>{stored("n1", {"FN:Ann"}), stored("n2", {"FN:Bob"})}));
}

TEST(VCardFileReader, SecondBeginDropsTheUnfinishedCard) {
  const Imported got =
      importText("BEGIN:VCARD\r\nFN:Lost\r\nBEGIN:VCARD\r\nFN:Kept\r\nEND:VCARD\r\n");
  EXPECT_EQ(got.namesDrawn, 2);
  ASSERT_EQ(got.cards.size(), 1u);
  EXPECT_EQ(got.cards[0].second, stored("n2", {"FN:Kept"}));
}

TEST(VCardFileReader, EndOfFileDecidesTheLastCard) {
  EXPECT_TRUE(importText("BEGIN:VCARD\r\nFN:Open\r\n").cards.empty());
  // A last END line without its line feed still closes the card.
  const Imported got = importText("BEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD");
  ASSERT_EQ(got.cards.size(), 1u);
  EXPECT_EQ(got.cards[0].second, stored("n1", {"FN:Ann"}));
}

TEST(VCardFileReader, MarkersInAnyLetterCaseArePrefixesAndWrittenUpperCase) {
  EXPECT_EQ(importText("begin:vcard\r\nFN:Ann\r\nend:vcard\r\n").texts(),
            std::vector<std::string>{stored("n1", {"FN:Ann"})});
  EXPECT_EQ(importText("BEGIN:vCard\nFN:Ann\nEnd:VCard\n").texts(),
            std::vector<std::string>{stored("n1", {"FN:Ann"})});
  const Imported got = importText("BEGIN:VCARDxyz\r\nFN:Ann\r\nEND:VCARD;junk\r\n");
  ASSERT_EQ(got.cards.size(), 1u);
  EXPECT_EQ(got.cards[0].second, stored("n1", {"FN:Ann"}));
  // Only at the start of a line: a folded or indented marker is no marker.
  EXPECT_TRUE(importText(" BEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD\r\n").cards.empty());
  EXPECT_EQ(importText("BEGIN:VCARD\r\nNOTE:a\r\n END:VCARD\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"NOTE:aEND:VCARD", "FN:"})});
}

TEST(VCardFileReader, CardWithoutFullNameGetsAnEmptyOne) {
  EXPECT_EQ(importText("BEGIN:VCARD\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"FN:"})});
  EXPECT_EQ(importText("BEGIN:VCARD\r\nTEL:5\r\nFNX:no\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"TEL:5", "FNX:no", "FN:"})});
  // FN in any letter case, with or without parameters, counts.
  EXPECT_EQ(importText("BEGIN:VCARD\r\nfn;LANGUAGE=en:Ann\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"fn;LANGUAGE=en:Ann"})});
  EXPECT_EQ(importText("BEGIN:VCARD\r\nitem1.FN:Ann\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"item1.FN:Ann"})});
}

TEST(VCardFileReader, BlankLinesInsideACardVanish) {
  EXPECT_EQ(importText("BEGIN:VCARD\r\n\r\nFN:Ann\r\n\r\n\nTEL:1\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"FN:Ann", "TEL:1"})});
}

TEST(VCardFileReader, SoftBreaksJoinWhatTheNextLineHoldsButNeverAMarker) {
  // The line after a soft break belongs to the value, colon and blank
  // included; a blank line closes it (phones write one after the value).
  EXPECT_EQ(importText("BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;QUOTED-PRINTABLE:a=0D=0A=\r\n"
                       "Time: 10=\r\n am=\r\n\r\nTEL:1\r\nEND:VCARD\r\n")
                .texts(),
            std::vector<std::string>{stored("n1", {"NOTE:a\\nTime: 10 am", "TEL:1", "FN:"})});
  // Only quoted-printable values have soft breaks.
  EXPECT_EQ(importText("BEGIN:VCARD\r\nNOTE:1+1=\r\nTEL:2\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"NOTE:1+1=", "TEL:2", "FN:"})});
  // A soft break before a marker does not swallow it.
  EXPECT_EQ(importText("BEGIN:VCARD\r\nFN:A\r\nNOTE;QUOTED-PRINTABLE:x=\r\nEND:VCARD\r\n"
                       "BEGIN:VCARD\r\nFN:B\r\nNOTE;QUOTED-PRINTABLE:y=\r\nbegin:vcard\r\n"
                       "FN:C\r\nEND:VCARD\r\n")
                .texts(),
            (std::vector<std::string>{stored("n1", {"FN:A", "NOTE:x"}), stored("n3", {"FN:C"})}));
}

TEST(VCardFileReader, Base64BlocksOf21AreJoinedIntoOneValue) {
  EXPECT_EQ(importText("BEGIN:VCARD\r\nVERSION:2.1\r\nFN:A\r\nPHOTO;ENCODING=BASE64;JPEG:\r\n"
                       "    QUJD\r\n    REVG\r\nR0hJ\r\n\r\nTEL;CELL:1\r\nEND:VCARD\r\n")
                .texts(),
            std::vector<std::string>{stored(
                "n1", {"FN:A", "PHOTO;ENCODING=b;TYPE=JPEG:QUJDREVGR0hJ", "TEL;TYPE=CELL:1"})});
}

TEST(VCardFileReader, TextIsEscapedAsTheServerReadsItWhateverTheVersion) {
  // A ',' in an ADR component is text in 2.1 and a list of the server's in
  // 3.0: either way it is stored escaped, and reads back as written.
  EXPECT_EQ(
      importText("BEGIN:VCARD\r\nFN:A\r\nADR:;;1 Main, 2;T;;;\r\nversion:2.1\r\nEND:VCARD\r\n")
          .texts(),
      std::vector<std::string>{stored("n1", {"FN:A", "ADR:;;1 Main\\, 2;T;;;"})});
  EXPECT_EQ(
      importText("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nADR:;;1 Main, 2;T;;;\r\nEND:VCARD\r\n")
          .texts(),
      (std::vector<std::string>{stored("n1", {"FN:A", "ADR:;;1 Main\\, 2;T;;;"})}));
}

TEST(VCardFileReader, UidVersionRevAreDroppedByNameWithWhatContinuesThem) {
  EXPECT_EQ(importText("BEGIN:VCARD\r\nuid:a\r\nUID;VALUE=text:b\r\nitem1.Rev:1\r\n"
                       "2024\r\nVersion;X=1:3.0\r\n more\r\nFN:Ann\r\nUIDX:kept\r\n"
                       "X-UID:kept\r\nEND:VCARD\r\n")
                .texts(),
            std::vector<std::string>{stored("n1", {"FN:Ann", "UIDX:kept", "X-UID:kept"})});
}

TEST(VCardFileReader, ByteOrderMarkIsSkippedBeforeCardsOnly) {
  const std::string bom = "\xEF\xBB\xBF";
  // At the file's start, and where files were joined end to end.
  EXPECT_EQ(importText(bom + "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n" + bom +
                       "BEGIN:VCARD\r\nFN:B\r\nEND:VCARD\r\n")
                .texts(),
            (std::vector<std::string>{stored("n1", {"FN:A"}), stored("n2", {"FN:B"})}));
  // Inside a card it is the value's own character.
  EXPECT_EQ(importText("BEGIN:VCARD\r\nFN:A\r\nNOTE:" + bom + "x\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"FN:A", ("NOTE:" + bom + "x").c_str()})});
}

TEST(VCardFileReader, ABareLineRightAfterTheBeginLineIsDropped) {
  EXPECT_EQ(importText("BEGIN:VCARD\r\nstray\r\nFN:A\r\nEND:VCARD\r\n").texts(),
            std::vector<std::string>{stored("n1", {"FN:A"})});
}

TEST(VCardFileReader, CardThatGrowsPastTheLimitWhenRewrittenIsDropped) {
  // 40 Windows-1252 bytes fit in 128, their 120 bytes of UTF-8 and the rest
  // of the card do not.
  const std::string wide = "NOTE;CHARSET=Windows-1252:" + std::string(40, '\x80');
  EXPECT_TRUE(
      importText("BEGIN:VCARD\r\nFN:A\r\n" + wide + "\r\nEND:VCARD\r\n", 1024, 128).cards.empty());
  EXPECT_EQ(importText("BEGIN:VCARD\r\nFN:A\r\nNOTE:" + std::string(40, 'x') + "\r\nEND:VCARD\r\n",
                       1024, 128)
                .cards.size(),
            1u);
}

TEST(VCardFileReader, EmptyFileGivesNoCard) {
  const Imported got = importText("");
  EXPECT_TRUE(got.opened);
  EXPECT_TRUE(got.cards.empty());
}

TEST(VCardFileReader, OnlyRegularFilesAreRead) {
  orva_test::TempRoot root;
  EXPECT_FALSE(importPath(root.path() + "/missing.vcf").opened);
  EXPECT_FALSE(importPath(root.path()).opened);
  EXPECT_FALSE(importPath("").opened);
  // A FIFO with no writer would block a plain open or read forever.
  const std::string fifo = root.path() + "/pipe.vcf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(importPath(fifo).opened);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(importPath("/dev/null").opened);
}

TEST(VCardFileReader, LongLinesAreReadWholeAcrossReadChunks) {
  const std::string photo = "PHOTO;ENCODING=b;TYPE=JPEG:" + std::string(300 * 1024, 'A');
  const Imported got = importText("BEGIN:VCARD\r\nFN:Ann\r\n" + photo + "\r\nEND:VCARD\r\n");
  ASSERT_EQ(got.cards.size(), 1u);
  EXPECT_EQ(got.cards[0].second, stored("n1", {"FN:Ann", photo.c_str()}));
}

TEST(VCardFileReader, CardHoldingATooLongLineIsDroppedAndReadingGoesOn) {
  const std::string longLine = "NOTE:" + std::string(100, 'x');
  const Imported got = importText(std::string(200, '#') + "\r\nBEGIN:VCARD\r\nFN:Lost\r\n" +
                                      longLine + "\r\nTEL:1\r\nEND:VCARD\r\n" +
                                      "BEGIN:VCARD\r\nFN:Kept\r\nEND:VCARD\r\n" + longLine,
                                  64);
  EXPECT_EQ(got.namesDrawn, 2);
  EXPECT_EQ(got.texts(), std::vector<std::string>{stored("n2", {"FN:Kept"})});
  // The limit counts the line without its line feed.
  const std::string exact = "NOTE:" + std::string(59, 'y');
  EXPECT_EQ(importText("BEGIN:VCARD\r\nFN:A\n" + exact + "\nEND:VCARD\n", 64).texts(),
            std::vector<std::string>{stored("n1", {"FN:A", exact.c_str()})});
}

TEST(VCardFileReader, OversizedCardIsDroppedAndReadingGoesOn) {
  std::string big = "BEGIN:VCARD\r\nFN:Big\r\n";
  for (int i = 0; i < 50; ++i) big += "NOTE:" + std::string(20, 'z') + "\r\n";
  const Imported got =
      importText(big + "END:VCARD\r\nBEGIN:VCARD\r\nFN:Small\r\nEND:VCARD\r\n", 64, 512);
  EXPECT_EQ(got.texts(), std::vector<std::string>{stored("n2", {"FN:Small"})});
}

}  // namespace
