// import_cards keeps what it can: grouped by kind of damage (line ends,
// encodings, names and controls, structured values, counts and failures),
// each case checks the text stored and that the CardDAV server's own check
// loads every stored card (one it could not load would fail the whole book).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

using std::string;

bool contains(const string& text, const string& part) { return text.find(part) != string::npos; }

string runCommand(const string& command, int* status = nullptr) {
  string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
  const int result = ::pclose(pipe);
  if (status != nullptr) *status = result;
  return out;
}

const string kChecker = string(ORVA_SOURCE_DIR) + "/tests/appliance/store/server_check.py";

class ImportKinds : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.SetupUserBasicInfo("alice");
    guid_ = store_.GetGUID("alice");
    ASSERT_FALSE(guid_.empty());
  }

  ORVA::APIResponse importText(const string& content, const char* user = "alice") {
    const string path = root_.path() + "/upload-" + std::to_string(++uploads_) + ".vcf";
    EXPECT_TRUE(orva_test::writeFile(path, content));
    Json::Value params(Json::objectValue);
    params["user"] = user;
    params["file_tmp"] = path;
    params["file"] = "contacts.vcf";
    return orva_test::callHandler(&ContactAndCalendarHandler::importCards, params);
  }

  // The stored texts with their UID lines left out, sorted: the file's own
  // order is not kept by names drawn at random.
  std::vector<string> stored() {
    Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
    store_.GetCards(ids, texts, guid_);
    std::vector<string> out;
    for (const Json::Value& text : texts) {
      string plain = text.asString();
      const std::size_t uid = plain.find("\r\nUID:");
      if (uid != string::npos) plain.erase(uid + 2, plain.find("\r\n", uid + 2) - uid);
      out.push_back(plain);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // A card as stored, from its kept lines.
  static string card(const string& lines) {
    return "BEGIN:VCARD\r\n" + lines + "VERSION:3.0\r\nEND:VCARD\r\n";
  }

  // Every stored card through the CardDAV server's own loading and serving.
  void expectServerLoadsEveryCard() {
    Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
    store_.GetCards(ids, texts, guid_);
    string frames;
    for (const Json::Value& text : texts) {
      frames += "T " + std::to_string(text.asString().size()) + "\n" + text.asString();
    }
    const string path = root_.path() + "/frames";
    ASSERT_TRUE(orva_test::writeFile(path, frames));
    int status = -1;
    const string out =
        runCommand("/usr/bin/python3 '" + kChecker + "' '" + path + "' 1 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(contains(out, "\"taken_but_refused\": 0")) << out;
  }

  string log() { return orva_test::readFile(root_.at("/var/log/webapi.log")); }

  orva_test::TempRoot root_{true};
  DBHandler store_;
  string guid_;
  int uploads_ = 0;
};

// The answer's counts; the dropped lines it names are checked on their own.
string data(const ORVA::APIResponse& response) {
  Json::Value counts = response.Data();
  counts.removeMember("dropped");
  counts.removeMember("dropped_lines");
  counts.removeMember("repaired");
  counts.removeMember("repaired_lines");
  return orva_test::toJson(counts);
}

TEST_F(ImportKinds, LineEnds) {
  // iPhone files end lines in CR CR LF; old Macs in a lone CR; a file may mix
  // them with LF and CR LF, and fold under any of them.
  const ORVA::APIResponse response = importText(
      "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nFN:Ann\r\r\nNOTE:fol\r\r\n ded\r\r\nEND:VCARD\r\r\n"
      "BEGIN:VCARD\rVERSION:3.0\rFN:Bob\rTEL:1\r 2\rEND:VCARD\r"
      "BEGIN:VCARD\nFN:Cy\r\nTEL:3\r\r\r\nEND:VCARD");
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_EQ(data(response), "{\"duplicates\":0,\"skipped\":0,\"stored\":3}");
  EXPECT_EQ(stored(),
            (std::vector<string>{card("FN:Ann\r\nNOTE:folded\r\n"), card("FN:Bob\r\nTEL:12\r\n"),
                                 card("FN:Cy\r\nTEL:3\r\n")}));
  expectServerLoadsEveryCard();
}

TEST_F(ImportKinds, Encodings) {
  const ORVA::APIResponse response = importText(
      // 3.0 photos: base64 that does not decode goes with its line; a named
      // BASE64, which the server cannot write back, becomes b; blanks go.
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Photos\r\nPHOTO;ENCODING=b:A\r\n"
      "LOGO;ENCODING=BASE64;TYPE=PNG:QU JD\r\nKEY;BASE64:QUI\r\nSOUND;ENCODING=binary:QUJD\r\n"
      "X-A;ENCODING=x-zip:QUJD\r\nPHOTO;ENCODING=b:QUJD*\r\nEND:VCARD\r\n"
      // A 2.1 block without its padding gets it back.
      "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Old\r\nPHOTO;ENCODING=BASE64;JPEG:\r\n QUJDRA\r\n\r\n"
      "END:VCARD\r\n"
      // UTF-8 with one stray byte keeps its characters; a value without any
      // UTF-8 sequence is Windows-1252.
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN;CHARSET=UTF-8:\xC3\x91o\xC3\xB1o \xFF\xC3\x91\r\n"
      "NOTE:caf\xE9 \x80\r\nEND:VCARD\r\n");
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_EQ(response.Data()["dropped_lines"].asUInt64(), 4u);
  EXPECT_EQ(
      stored(),
      (std::vector<string>{
          card("FN:Old\r\nPHOTO;ENCODING=b;TYPE=JPEG:QUJDRA==\r\n"),
          card("FN:Photos\r\nLOGO;ENCODING=b;TYPE=PNG:QUJD\r\nKEY;ENCODING=b:QUI=\r\n"),
          card("FN:\xC3\x91o\xC3\xB1o \xEF\xBF\xBD\xC3\x91\r\nNOTE:caf\xC3\xA9 \xE2\x82\xAC\r\n"),
      }));
  const string lines = log();
  EXPECT_TRUE(contains(lines, "line PHOTO dropped: holds base64 that does not decode")) << lines;
  EXPECT_TRUE(contains(lines, "line SOUND dropped: names an unknown ENCODING")) << lines;
  // The answer names the same lines, each with its card's number in the file.
  EXPECT_EQ(orva_test::toJson(response.Data()["dropped"]),
            "[{\"card\":1,\"line\":\"PHOTO\",\"name\":\"Photos\",\"why\":\"holds base64 that does not "
            "decode\"},{\"card\":1,\"line\":\"SOUND\",\"name\":\"Photos\",\"why\":\"names an unknown "
            "ENCODING\"},{\"card\":1,\"line\":\"X-A\",\"name\":\"Photos\",\"why\":\"names an unknown "
            "ENCODING\"},{\"card\":1,\"line\":\"PHOTO\",\"name\":\"Photos\",\"why\":\"holds base64 "
            "that does not decode\"}]");
  expectServerLoadsEveryCard();
}

TEST_F(ImportKinds, NamesAndControls) {
  const ORVA::APIResponse response = importText(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nPROFILE:VCard\r\nFN:Ann\r\n"
      // a desktop address book's messaging line, and a name with '_'
      "X-messaging/xmpp-All:ann@example.org\r\nX_A:1\r\n"
      // a form feed decoded from an Outlook line, an escape byte as it stands
      "NOTE;ENCODING=QUOTED-PRINTABLE:a=0Cb\r\nTITLE:a\x1b[0m\r\n"
      // lines that open or close other objects, and what the server cannot
      // take twice or with a group
      "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\nPRODID:-//One\r\nPRODID:-//Two\r\nFN:Second\r\n"
      "N:Doe;Ann\r\nN:Roe;Ann\r\nitem1.CATEGORIES:x\r\nTEL\t;TYPE=CELL:1\r\n"
      "TEL;TYPE=CELL:2\r\nEND:VCARD\r\n");
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  // The messaging line, the one with '_' and the name with a tab keep their
  // letters and values.
  EXPECT_EQ(response.Data()["repaired_lines"].asUInt64(), 3u);
  EXPECT_EQ(response.Data()["repaired"][Json::ArrayIndex{0}]["name"], "Ann");
  EXPECT_EQ(stored(), std::vector<string>{card(
                          "FN:Ann\r\nX-MESSAGING-XMPP-ALL:ann@example.org\r\nX-A:1\r\n"
                          "PRODID:-//One\r\nN:Doe;Ann\r\nTEL;TYPE=CELL:1\r\nTEL;TYPE=CELL:2\r\n")});
  const string lines = log();
  for (const char* expected :
       {"line X-messaging/xmpp-All repaired: a property name the server refuses",
        "line NOTE dropped: holds a control character", "line BEGIN dropped: is a BEGIN or END",
        "line PRODID dropped: is a second FN, N or PRODID",
        "line CATEGORIES dropped: has a group on UID, PRODID or CATEGORIES"}) {
    EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << lines;
  }
  EXPECT_FALSE(contains(lines, "PROFILE dropped")) << "PROFILE goes quietly, as VERSION does";
  expectServerLoadsEveryCard();
}

TEST_F(ImportKinds, StructuredValues) {
  // 3.0 and 4.0 lines keep their bytes except the ',' the server would read
  // as a list: escaped with the writer's rule, which leaves escapes alone.
  const ORVA::APIResponse response = importText(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Doe, Jane\r\nN:Doe, Jr.;Jane;A,B;;\r\n"
      "ORG:Acme, Inc.;R&D, East\r\nTITLE:Head, Sales\r\nNOTE:one\\, two, three\\nfour\r\n"
      "ADR:;;1 Main St, Apt 2;Town;;;\r\nCATEGORIES:a,b\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Eve\r\nORG:Already\\, escaped;Unit\r\nEND:VCARD\r\n");
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_EQ(stored(),
            (std::vector<string>{
                card("FN:Doe\\, Jane\r\nN:Doe\\, Jr.;Jane;A\\,B;;\r\n"
                     "ORG:Acme\\, Inc.;R&D\\, East\r\nTITLE:Head\\, Sales\r\n"
                     "NOTE:one\\, two\\, three\\nfour\r\nADR:;;1 Main St\\, Apt 2;Town;;;\r\n"
                     "CATEGORIES:a,b\r\n"),
                card("FN:Eve\r\nORG:Already\\, escaped;Unit\r\n"),
            }));
  expectServerLoadsEveryCard();
}

TEST_F(ImportKinds, CountsAndFailures) {
  // A user the store does not know is set up first and gets the cards.
  const ORVA::APIResponse forBob = importText(
      "BEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:Bo\r\nEND:VCARD\r\n", "bob");
  ASSERT_TRUE(forBob.IsSuccess()) << orva_test::toJson(forBob.Envelope());
  EXPECT_EQ(data(forBob), "{\"duplicates\":0,\"skipped\":0,\"stored\":2}");
  Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
  EXPECT_EQ(store_.GetCards(ids, texts, store_.GetGUID("bob")), 2);

  // A disk that takes no more (the host's file-size limit stands in for a
  // full one): the card that cannot be written stops the import with 1011
  // and the counts; the cards before it stay, whole, and the book serves.
  const string photo(100 * 1024, 'Q');
  string file;
  for (int i = 0; i < 10; ++i)
    file += "BEGIN:VCARD\r\nFN:Small " + std::to_string(i) + "\r\nEND:VCARD\r\n";
  file += "BEGIN:VCARD\r\nFN:Big\r\nPHOTO;ENCODING=b:" + photo + "\r\nEND:VCARD\r\n";
  for (int i = 0; i < 5; ++i)
    file += "BEGIN:VCARD\r\nFN:Later " + std::to_string(i) + "\r\nEND:VCARD\r\n";
  const string path = root_.path() + "/full-disk.vcf";
  ASSERT_TRUE(orva_test::writeFile(path, file));
  int status = -1;
  const string out =
      runCommand("bash -c \"trap '' XFSZ; ulimit -f 64; exec '" + string(ORVA_BIN_DIR) +
                     "/orva-webapi' --root '" + root_.path() +
                     "' call ORVA.ContactAndCalendar.Contacts import_cards user=alice"
                     " 'file_tmp=" +
                     path + "' file=x.vcf\"",
                 &status);
  const Json::Value answer = orva_test::parseJson(out);
  EXPECT_EQ(answer["success"], Json::Value(false)) << out;
  EXPECT_EQ(answer["error"]["code"], Json::Value(1011)) << out;
  EXPECT_EQ(answer["error"]["detail"],
            Json::Value("Fail to set card: the store could not write a card; stored 10, skipped 0"))
      << out;
  EXPECT_NE(status, 0);
  const std::vector<string> cards = stored();
  ASSERT_EQ(cards.size(), 10u);
  for (const string& text : cards) EXPECT_TRUE(contains(text, "FN:Small ")) << text;
  const string book =
      root_.at("/var/packages/Tessaro/var/collections/collection-root/alice/contacts");
  for (const auto& entry : std::filesystem::directory_iterator(book)) {
    EXPECT_FALSE(contains(entry.path().filename().string(), "tmp")) << entry.path();
  }
  expectServerLoadsEveryCard();
}

}  // namespace
