// The store's gate for card texts: what a CardDAV server could not load is
// refused, logged in var/log/store.log and leaves the book unchanged.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/contact_store.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::readFile;
using orva_test::readLines;
using std::string;

struct Case {
  const char* what;
  string text;
  const char* reason;  // expected in the log line; nullptr: accepted
};

const string kHead = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\n";
const string kTail = "END:VCARD\r\n";

// The lines as one card, with an FN line after them unless they hold one.
string with(const string& lines) {
  const bool hasFn = lines.rfind("FN", 0) == 0 || lines.find("\nFN") != string::npos;
  return kHead + lines + (hasFn ? "" : "FN:x\r\n") + kTail;
}

std::vector<Case> accepted() {
  return {
      {"plain", with("FN:Ann\r\n"), nullptr},
      {"folded with space and tab", with("NOTE:one\r\n two\r\n\tthree\r\n"), nullptr},
      {"group and parameters", with("item1.EMAIL;TYPE=INTERNET,pref:a@b.c\r\n"), nullptr},
      {"quoted parameter holding : ; ,", with("ADR;LABEL=\"1 Main St: Apt 2; x,y\":;;1 Main\r\n"),
       nullptr},
      {"empty value", with("NOTE:\r\n"), nullptr},
      {"UTF-8 text", with("FN:J\xC3\xBCrgen \xE2\x82\xAC \xF0\x9F\x98\x80\r\n"), nullptr},
      {"other encoding", with("PHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n"), nullptr},
      {"uid in lower case, with parameters",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nuid;VALUE=text:abc\r\nFN:a\r\nEND:VCARD\r\n", nullptr},
      {"base64 in every form that decodes",
       with("PHOTO;ENCODING=B:QQ==\r\nLOGO;encoding=b:QUI=\r\nKEY;ENCODING=b:QUJD\r\nSOUND;"
            "ENCODING=\"b\":\r\n"),
       nullptr},
      {"base64 folded", with("PHOTO;ENCODING=b:QUJD\r\n REVG\r\n"), nullptr},
      {"ORG with escaped commas and units", with("ORG:Acme\\, Inc.;R\\,D;\r\n"), nullptr},
      {"commas as the server reads them",
       with("NOTE:a\\,b\r\nN:a,b;c\r\nCATEGORIES:a,b\r\nADR:;;a,b;c;;;\r\nURL:x\\,y\\:z\r\n"),
       nullptr},
      {"one PRODID, groups where the server takes them",
       "BEGIN:VCARD\r\ng.VERSION:3.0\r\nUID:u\r\nPRODID:-//x//y\r\nitem1.ORG:a\r\nFN:a\r\n"
       "END:VCARD\r\n",
       nullptr},
      {"uid folded", "BEGIN:VCARD\r\nUID:\r\n abc\r\nFN:a\r\nEND:VCARD\r\n", nullptr},
      {"FN in lower case with group and parameter", kHead + "item1.fn;LANGUAGE=en:a\r\n" + kTail,
       nullptr},
      {"value with colons and quotes", with("URL:http://x.example/a?b=\"c\"\r\n"), nullptr},
  };
}

std::vector<Case> refused() {
  return {
      {"empty", "", "empty text"},
      {"invalid byte", with("FN:\xFF\r\n"), "not valid UTF-8"},
      {"overlong", with("FN:\xC0\xAF\r\n"), "not valid UTF-8"},
      {"surrogate", with("FN:\xED\xA0\x80\r\n"), "not valid UTF-8"},
      {"truncated sequence", with("FN:\xE2\x82\r\n"), "not valid UTF-8"},
      {"lone LF", kHead + "FN:a\nEND:VCARD\r\n", "lone CR or LF"},
      {"lone CR", kHead + "FN:a\rb\r\nEND:VCARD\r\n", "lone CR or LF"},
      {"CR CR LF", kHead + "FN:a\r\r\nEND:VCARD\r\n", "lone CR or LF"},
      {"no final CR LF", kHead + "END:VCARD", "does not end with END:VCARD"},
      {"trailing empty line", kHead + kTail + "\r\n", "does not end with END:VCARD"},
      {"first line not BEGIN", "VERSION:3.0\r\n" + kHead + kTail, "first line is not BEGIN:VCARD"},
      {"begin in lower case", "begin:vcard\r\nUID:u\r\nEND:VCARD\r\n",
       "first line is not BEGIN:VCARD"},
      {"END glued to a line", kHead + "FN:aEND:VCARD\r\n", "last line is not END:VCARD"},
      {"two cards", with("") + with(""), "line 5 is a BEGIN or END line inside the card"},
      {"nested END", with("END:VCARD\r\n"), "line 4 is a BEGIN or END line inside the card"},
      {"nested begin in other case", with("begin:vcalendar\r\n"), "BEGIN or END line inside"},
      {"marker made by folding", with("BEG\r\n IN:VCARD\r\n"), "BEGIN or END line inside"},
      {"BEGIN line folded", "BEGIN:VCARD\r\n X\r\nUID:u\r\nEND:VCARD\r\n",
       "line 2 folds the BEGIN:VCARD line"},
      {"no UID", "BEGIN:VCARD\r\nFN:a\r\nEND:VCARD\r\n", "no UID"},
      {"empty UID", "BEGIN:VCARD\r\nUID:\r\nEND:VCARD\r\n", "no UID"},
      {"blank UID", "BEGIN:VCARD\r\nUID: \t\r\nEND:VCARD\r\n", "no UID"},
      {"UID only in a value", "BEGIN:VCARD\r\nNOTE:UID:x\r\nEND:VCARD\r\n", "no UID"},
      {"UID empty before a comma", "BEGIN:VCARD\r\nUID:,x\r\nFN:a\r\nEND:VCARD\r\n",
       "line 2 has an unescaped ',' in UID"},
      // What the server would serve otherwise than stored.
      {"bare parameter", with("TEL;HOME:123\r\n"), "parameter HOME without a value"},
      {"bare BASE64", with("PRODID;BASE64:QUJD\r\n"), "parameter BASE64 without a value"},
      {"empty parameter value", with("X-A;X-P=:v\r\n"), "empty value of the parameter X-P"},
      {"comma in a web address", with("URL:https://m.example/@48.8,2.29\r\n"),
       "line 4 has an unescaped ',' in URL"},
      {"comma in a note", with("NOTE:a,b\r\n"), "unescaped ',' in NOTE"},
      {"escaped quote", with("X-A:say \\\"hi\r\n"), "\"' in X-A"},
      {"lone backslash at the end", with("TITLE:a\\\r\n"), "ends TITLE in a lone"},
      {"six N components", with("N:a;b;c;d;e;f\r\n"), "more than five N components"},
      {"encoded address", with("ADR;ENCODING=b:QUJD\r\n"), "line 4 is an encoded ADR"},
      {"eight ADR components", with("ADR:1;2;3;4;5;6;7;8\r\n"), "more than seven ADR"},
      {"UID encoded", "BEGIN:VCARD\r\nUID;ENCODING=b:QUJD\r\nFN:a\r\nEND:VCARD\r\n",
       "line 2 is an encoded UID"},
      {"line without colon", with("FN Ann\r\n"), "line 4 has no ':'"},
      {"empty line", with("\r\n"), "line 4 is empty"},
      {"bad character in name", with("F_N:a\r\n"), "line 4 has no ':'"},
      {"no name", with(":a\r\n"), "line 4 is not a property line"},
      {"group without name", with("g.:a\r\n"), "line 4 is not a property line"},
      {"two groups", with("a.b.FN:x\r\n"), "line 4 has no ':'"},
      {"parameter without name", with("TEL;=x:1\r\n"), "malformed parameter"},
      {"unterminated quote", with("ADR;LABEL=\"abc:;;x\r\n"), "malformed parameter value"},
      {"quote inside a bare value", with("TEL;TYPE=a\"b:1\r\n"), "malformed parameter value"},
      {"control byte in a parameter", with("TEL;TYPE=a\x01:1\r\n"), "control character"},
      // A reader that stops at the NUL would drop the rest of the note.
      {"NUL in a value", with(std::string("NOTE:before\0after\r\n", 19)), "control character"},
      {"escape in a value", with("NOTE:a\x1b[31m\r\n"), "control character"},
      {"DEL in a value", with("NOTE:a\x7f\r\n"), "control character"},
      {"quoted-printable", with("NOTE;ENCODING=QUOTED-PRINTABLE:a=3Db\r\n"),
       "line 4 uses ENCODING=QUOTED-PRINTABLE"},
      {"quoted-printable any case", with("NOTE;encoding=Quoted-Printable:a\r\n"),
       "ENCODING=QUOTED-PRINTABLE"},
      {"quoted-printable quoted", with("NOTE;ENCODING=\"QUOTED-PRINTABLE\":a\r\n"),
       "ENCODING=QUOTED-PRINTABLE"},
      {"quoted-printable in a list", with("NOTE;ENCODING=8BIT,QUOTED-PRINTABLE:a\r\n"),
       "ENCODING=QUOTED-PRINTABLE"},
      {"quoted-printable across a fold", with("NOTE;ENCODING=QUOTED-\r\n PRINTABLE:a\r\n"),
       "ENCODING=QUOTED-PRINTABLE"},
      {"no FN", "BEGIN:VCARD\r\nUID:u\r\nN:a;b;;;\r\nX-FN:a\r\nEND:VCARD\r\n", "no FN"},
      {"two FN, one grouped", with("FN:a\r\nitem1.FN:b\r\n"), "line 5 is a second FN line"},
      {"two N in any case", with("N:a;b;;;\r\nn:Doe;Jane\r\n"), "line 5 is a second N line"},
      {"two UID", with("uid:u2\r\n"), "line 4 is a second UID line"},
      {"two VERSION", with("VERSION:4.0\r\n"), "line 4 is a second VERSION line"},
      {"two PRODID", with("PRODID:a\r\nprodid:b\r\n"), "line 5 is a second PRODID line"},
      // What the server decodes and cannot write back, or cannot decode.
      {"base64 of one letter", with("PHOTO;ENCODING=b:A\r\n"), "base64 that does not decode"},
      {"base64 unpadded", with("PHOTO;ENCODING=b:QUI\r\n"), "base64 that does not decode"},
      {"base64 with a blank", with("PHOTO;ENCODING=b:QU JD\r\n"), "base64 that does not decode"},
      {"base64 after padding", with("PHOTO;ENCODING=b:QQ==QUJD\r\n"), "does not decode"},
      {"base64 bare in lower case", with("PHOTO;base64:*\r\n"), "base64 without a value"},
      {"ENCODING=BASE64", with("PHOTO;ENCODING=BASE64:QUJD\r\n"), "ENCODING other than b"},
      {"ENCODING=binary", with("PHOTO;ENCODING=binary:QUJD\r\n"), "ENCODING other than b"},
      {"ENCODING empty", with("X-A;ENCODING=:QUJD\r\n"), "ENCODING other than b"},
      {"bare quoted-printable", with("NOTE;QUOTED-PRINTABLE:a\r\n"), "QUOTED-PRINTABLE"},
      {"PROFILE", with("PROFILE:VCARD\r\n"), "line 4 is a PROFILE line"},
      {"PROFILE grouped", with("g.profile:VCARD\r\n"), "is a PROFILE line"},
      {"grouped UID", "BEGIN:VCARD\r\ng.UID:u\r\nFN:a\r\nEND:VCARD\r\n", "group on UID"},
      {"grouped CATEGORIES", with("item1.CATEGORIES:a\r\n"), "group on UID, PRODID"},
      {"ORG with a comma", with("ORG:Acme, Inc.\r\n"), "unescaped ',' in ORG"},
      {"ORG with a comma in a unit", with("ORG:Acme;Sales\\\\,East\r\n"), "unescaped ','"},
      {"name with a slash", with("X-messaging/xmpp-All:a\r\n"), "line 4 has no ':'"},
      {"form feed", with("NOTE:a\fb\r\n"), "control character"},
  };
}

class CardTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.SetupUserBasicInfo("alice");
    guid_ = store_.GetGUID("alice");
    ASSERT_FALSE(guid_.empty());
  }
  string cardFile(const string& name) const {
    return root_.at("/var/packages/Tessaro/var/collections/collection-root/alice/contacts/") + name;
  }
  std::vector<string> log() const { return readLines(root_.at("/var/log/store.log")); }

  orva_test::TempRoot root_;
  DBHandler store_;
  string guid_;
};

TEST_F(CardTextTest, AcceptedTextsAreStoredByteForByte) {
  int n = 0;
  for (const Case& c : accepted()) {
    SCOPED_TRACE(c.what);
    const string name = "ok" + std::to_string(n++);
    EXPECT_TRUE(store_.AddCard(guid_, name, c.text));
    EXPECT_EQ(readFile(cardFile(name)), c.text);
    EXPECT_TRUE(store_.UpdateCard(guid_, name, c.text));
  }
  EXPECT_TRUE(log().empty());
}

TEST_F(CardTextTest, RefusedTextsAreLoggedAndNotStored) {
  int n = 0;
  for (const Case& c : refused()) {
    SCOPED_TRACE(c.what);
    const string name = "bad" + std::to_string(n++);
    EXPECT_FALSE(store_.AddCard(guid_, name, c.text));
    EXPECT_FALSE(std::ifstream(cardFile(name)).good());
    const std::vector<string> lines = log();
    ASSERT_EQ(lines.size(), static_cast<size_t>(n));
    EXPECT_NE(lines.back().find(" refused AddCard user=alice card=" + name + ": "), string::npos)
        << lines.back();
    EXPECT_NE(lines.back().find(c.reason), string::npos) << lines.back();
  }
}

TEST_F(CardTextTest, RefusedUpdateKeepsTheOldText) {
  const string good = with("FN:Ann\r\n");
  ASSERT_TRUE(store_.AddCard(guid_, "c1", good));
  EXPECT_FALSE(store_.UpdateCard(guid_, "c1", with("NOTE;ENCODING=quoted-printable:x\r\n")));
  EXPECT_EQ(readFile(cardFile("c1")), good);
  ASSERT_EQ(log().size(), 1u);
  EXPECT_NE(log()[0].find("refused UpdateCard user=alice card=c1: line 4 uses"), string::npos);
}

TEST_F(CardTextTest, ALogLineStaysOneLineWhateverTheName) {
  EXPECT_FALSE(store_.AddCard(guid_, "a\nb\\c", "junk"));
  const std::vector<string> lines = log();
  ASSERT_EQ(lines.size(), 1u);
  // "<UTC stamp> refused ..."
  ASSERT_GE(lines[0].size(), 21u);
  EXPECT_EQ(lines[0][10], 'T');
  EXPECT_EQ(lines[0].substr(19, 9), "Z refused");
  EXPECT_NE(lines[0].find("card=a\\x0ab\\x5cc: does not end with END:VCARD"), string::npos)
      << lines[0];
}

}  // namespace
