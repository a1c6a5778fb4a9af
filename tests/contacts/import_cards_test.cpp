// import_cards against the real contact store: each stored text is read back
// through the store and compared byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "contacts/import_dropped_lines.h"
#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One card of a file as the store keeps it: the kept lines, then the trailer
// with the store's resource name.
std::string storedAs(const std::string& keptLines, const std::string& name) {
  return "BEGIN:VCARD\r\n" + keptLines + "VERSION:3.0\r\nUID:" + name + "\r\nEND:VCARD\r\n";
}

// Output of a command and its exit status.
struct CommandResult {
  std::string out;
  int status = -1;
};

CommandResult run(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, got);
  result.status = ::pclose(pipe);
  return result;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The cards of a text of cards, each up to and with its "END:VCARD" CR LF.
std::vector<std::string> splitCards(const std::string& text) {
  static const std::string kEnd = "END:VCARD\r\n";
  std::vector<std::string> cards;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(kEnd, start)) != std::string::npos;) {
    cards.push_back(text.substr(start, end + kEnd.size() - start));
    start = end + kEnd.size();
  }
  return cards;
}

const std::string kImportData = std::string(ORVA_SOURCE_DIR) + "/tests/data/import/";

class ImportCards : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.SetupUserBasicInfo("alice");
    guid_ = store_.GetGUID("alice");
    if (guid_.empty()) GTEST_SKIP() << "the contact store keeps no users yet";
  }

  std::string upload(const std::string& content) {
    const std::string path = root_.path() + "/upload-" + std::to_string(++uploads_) + ".vcf";
    EXPECT_TRUE(orva_test::writeFile(path, content));
    return path;
  }

  static Json::Value params(const std::string& path, const char* user = "alice") {
    Json::Value out(Json::objectValue);
    out["user"] = user;
    out["file_tmp"] = path;
    out["file"] = "contacts.vcf";
    return out;
  }

  ORVA::APIResponse importPath(const std::string& path) {
    return orva_test::callHandler(&ContactAndCalendarHandler::importCards, params(path));
  }
  ORVA::APIResponse importText(const std::string& content) { return importPath(upload(content)); }

  // Resource name → stored text.
  std::map<std::string, std::string> cards() {
    Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
    store_.GetCards(ids, texts, guid_);
    std::map<std::string, std::string> out;
    for (Json::ArrayIndex i = 0; i < ids.size(); ++i) out[ids[i].asString()] = texts[i].asString();
    return out;
  }

  // The stored texts, each with its resource name replaced by "@", in the
  // order of the file (names are fresh, so the order is found by content).
  std::vector<std::string> storedTexts() {
    std::vector<std::string> out;
    for (const auto& [name, text] : cards()) {
      std::string plain = text;
      const std::string uid = "\r\nUID:" + name + "\r\n";
      const auto at = plain.find(uid);
      EXPECT_NE(at, std::string::npos) << text;
      if (at != std::string::npos) plain.replace(at, uid.size(), "\r\nUID:@\r\n");
      out.push_back(plain);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  static std::vector<std::string> sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
  }

  // What python3-vobject, the library of the CardDAV server, reads of each
  // stored card: one JSON line per card, sorted. Fails the test when a card
  // does not load.
  std::vector<std::string> loadedByVobject() {
    std::string all;
    for (const std::string& text : storedTexts()) all += text;
    const std::string path = root_.path() + "/stored.vcf";
    EXPECT_TRUE(orva_test::writeFile(path, all));
    const CommandResult loaded =
        run("/usr/bin/python3 '" + kImportData + "load_with_vobject.py' '" + path + "'");
    EXPECT_EQ(loaded.status, 0) << "a stored card does not load in vobject:\n" << all;
    return sorted(splitLines(loaded.out));
  }

  orva_test::TempRoot root_{true};
  DBHandler store_;
  std::string guid_;
  int uploads_ = 0;
};

TEST_F(ImportCards, StoresEachCardUnderAFreshNameWrittenAsItsUid) {
  const ORVA::APIResponse response = importText(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:same\r\nFN:Ann\r\nREV:2024-01-01T00:00:00Z\r\n"
      "TEL;TYPE=CELL:+1 555\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:same\r\nFN:Bob\r\nEND:VCARD\r\n");
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_EQ(orva_test::toJson(response.Data()), "{\"duplicates\":0,\"skipped\":0,\"stored\":2}");
  const auto stored = cards();
  ASSERT_EQ(stored.size(), 2u);
  std::vector<std::string> expected;
  for (const auto& [name, text] : stored) {
    EXPECT_NE(name, "same");
    expected.push_back(contains(text, "FN:Ann")
                           ? storedAs("FN:Ann\r\nTEL;TYPE=CELL:+1 555\r\n", name)
                           : storedAs("FN:Bob\r\n", name));
    EXPECT_EQ(text, expected.back());
  }
}

TEST_F(ImportCards, LineShapesAreRebuiltByteForByte) {
  // LF ends, folded lines (one blank goes), a bare line joining the one
  // before, backslashes as they stand, junk around cards, an unfinished card
  // dropped by the next begin, a card without FN, a last line without LF.
  const ORVA::APIResponse response = importText(
      "junk before\nEND:VCARD\n"
      "BEGIN:VCARD\nFN:Dropped\n"
      "BEGIN:VCARD\nFN:Carol\nNOTE:long note fol\n ded here: still the note\n"
      "URL:http://example.org/\n\tpath\nORG:Acme\\, Inc.\nTITLE:boss\nof all\nEND:VCARD\n"
      "between\n"
      "BEGIN:VCARD\nTEL:12345\nEND:VCARD");
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_EQ(storedTexts(),
            sorted({storedAs("FN:Carol\r\nNOTE:long note folded here: still the note\r\n"
                             "URL:http://example.org/path\r\nORG:Acme\\, Inc.\r\n"
                             "TITLE:bossof all\r\n",
                             "@"),
                    storedAs("TEL:12345\r\nFN:\r\n", "@")}));
}

TEST_F(ImportCards, ALineTheServerCannotLoadGoesAndTheCardStays) {
  const ORVA::APIResponse response = importText(
      "BEGIN:VCARD\r\nFN:Good One\r\nEND:VCARD\r\n"
      // a line without a property name
      "BEGIN:VCARD\r\nFN:Odd\r\n;x=1:value\r\nEND:VCARD\r\n"
      // a parameter value whose quotes never close
      "BEGIN:VCARD\r\nFN:Odder\r\nTEL;TYPE=\"cell:1\r\nEND:VCARD\r\n");
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  // The answer names them too, with their card's number in the file and FN.
  EXPECT_EQ(orva_test::toJson(response.Data()),
            "{\"dropped\":[{\"card\":2,\"line\":\"\",\"name\":\"Odd\",\"why\":\"has no property "
            "name\"},{\"card\":3,\"line\":\"TEL\",\"name\":\"Odder\",\"why\":\"has a malformed "
            "parameter value\"}],\"dropped_lines\":2,\"duplicates\":0,\"skipped\":0,\"stored\":3}");
  EXPECT_EQ(storedTexts(), sorted({storedAs("FN:Good One\r\n", "@"), storedAs("FN:Odd\r\n", "@"),
                                   storedAs("FN:Odder\r\n", "@")}));
  const std::string log = orva_test::readFile(root_.at("/var/log/webapi.log"));
  EXPECT_TRUE(contains(log, "import_cards: card 2: line  dropped: has no property name")) << log;
  EXPECT_TRUE(contains(log, "import_cards: card 3: line TEL dropped: has a malformed parameter"))
      << log;
  EXPECT_FALSE(contains(log, "cell:1")) << log;
}

TEST(ImportDroppedLines, AllAreCountedTheFirstNamedInPrintableText) {
  orva_contacts::DroppedLines dropped;
  Json::Value none(Json::objectValue);
  dropped.addTo(none);
  EXPECT_EQ(orva_test::toJson(none), "{}");
  dropped.add(7, std::string("X-\xff\x01\"A") + std::string(100, 'B'), "why");
  for (int i = 0; i < 150; ++i) dropped.add(8, "NOTE", "holds a control character");
  Json::Value answer(Json::objectValue);
  dropped.addTo(answer);
  EXPECT_EQ(answer["dropped_lines"].asUInt64(), 151u);
  ASSERT_EQ(answer["dropped"].size(), orva_contacts::DroppedLines::kNamed);
  EXPECT_EQ(answer["dropped"][0]["line"].asString(), "X-??\"A" + std::string(58, 'B'));
  EXPECT_EQ(answer["dropped"][0]["card"].asUInt64(), 7u);
}

TEST_F(ImportCards, NothingStoredAnswers1011WithTheCounts) {
  mkdir((root_.path() + "/folder.vcf").c_str(), 0700);
  const std::string fifo = root_.path() + "/pipe.vcf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::string> paths = {
      upload(""),
      upload("no cards at all\r\n"),
      upload("BEGIN:VCARD\r\nFN:Unfinished\r\n"),
      root_.path() + "/missing.vcf",
      root_.path() + "/folder.vcf",
      fifo,
      "",
  };
  for (const std::string& path : paths) {
    const auto start = std::chrono::steady_clock::now();
    const ORVA::APIResponse response = importPath(path);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << path;
    EXPECT_EQ(response.ErrorCode(), 1011) << path;
    const std::string detail = response.ErrorDetail().asString();
    EXPECT_EQ(detail.rfind("Fail to set card: ", 0), 0u) << detail;
    EXPECT_TRUE(contains(detail, "stored 0, skipped 0")) << detail;
  }
  EXPECT_TRUE(cards().empty());
}

// Like list and add, import sets a user up that the store does not know yet:
// answering success with nothing stored would hide the loss.
TEST_F(ImportCards, AUserNotSetUpIsSetUpAndGetsTheCards) {
  const std::string path = upload("BEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD\r\n");
  ASSERT_TRUE(store_.GetGUID("bob").empty());
  const ORVA::APIResponse response =
      orva_test::callHandler(&ContactAndCalendarHandler::importCards, params(path, "bob"));
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_EQ(orva_test::toJson(response.Data()), "{\"duplicates\":0,\"skipped\":0,\"stored\":1}");
  const std::string bob = store_.GetGUID("bob");
  ASSERT_FALSE(bob.empty());
  Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
  ASSERT_EQ(store_.GetCards(ids, texts, bob), 1);
  EXPECT_TRUE(contains(texts[0].asString(), "\r\nFN:Ann\r\n"));
  EXPECT_TRUE(cards().empty()) << "alice's book is not touched";
  // A name the store refuses cannot be set up: 1011, nothing read.
  const ORVA::APIResponse refused =
      orva_test::callHandler(&ContactAndCalendarHandler::importCards, params(path, "a/b"));
  EXPECT_EQ(refused.ErrorCode(), 1011);
}

TEST_F(ImportCards, ParametersAreCheckedBeforeAnythingIsRead) {
  const std::string path = upload("BEGIN:VCARD\r\nFN:Ann\r\nEND:VCARD\r\n");
  for (const char* missing : {"user", "file_tmp", "file"}) {
    Json::Value request = params(path);
    request.removeMember(missing);
    const ORVA::APIResponse response =
        orva_test::callHandler(&ContactAndCalendarHandler::importCards, request);
    EXPECT_EQ(response.ErrorCode(), 900) << missing;
    EXPECT_EQ(response.ErrorDetail(), Json::Value("Request lost parameters"));
  }
  for (const char* wrong : {"user", "file_tmp"}) {
    Json::Value request = params(path);
    request[wrong] = Json::Value(Json::arrayValue);
    const ORVA::APIResponse response =
        orva_test::callHandler(&ContactAndCalendarHandler::importCards, request);
    EXPECT_EQ(response.ErrorCode(), 901) << wrong;
    EXPECT_EQ(response.ErrorDetail(), Json::Value("Incorrect parameter: Need "));
  }
  // "file" must be there, whatever it holds.
  Json::Value request = params(path);
  request["file"] = Json::Value(Json::objectValue);
  EXPECT_TRUE(orva_test::callHandler(&ContactAndCalendarHandler::importCards, request).IsSuccess());
  EXPECT_EQ(cards().size(), 1u);
}

// Files in the shapes that real address books export.
TEST_F(ImportCards, ExporterShapes) {
  const std::string photo(120 * 1024, 'Q');
  const std::string file =
      // An old phone: vCard 2.1, a quoted-printable note with soft breaks
      // and a bare parameter, both turned into 3.0.
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John;;;\r\nFN:John Doe\r\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:first line=0D=0A=\r\nsecond line=\r\n\r\n"
      "END:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Roe;Jane;;;\r\nFN:Jane Roe\r\nTEL;CELL:+15550001\r\n"
      "END:VCARD\r\n"
      // A desktop address book: 3.0, item groups with labels, a photo on one line.
      "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Desk//Book 1.0//EN\r\nN:Ray;Max;;;\r\n"
      "FN:Max Ray\r\nitem1.EMAIL;type=INTERNET;type=pref:max@example.org\r\n"
      "item1.X-ABLabel:_$!<Other>!$_\r\nitem2.ADR;type=HOME:;;1 Main St;Town;;12345;\r\n"
      "item2.X-ABADR:us\r\nPHOTO;ENCODING=b;TYPE=JPEG:" +
      photo +
      "\r\nUID:ABCD-1234\r\nEND:VCARD\r\n"
      // A web address book: 4.0 folded at 75 octets.
      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Eve Lee\r\nN:Lee;Eve;;;\r\n"
      "TEL;TYPE=cell;VALUE=uri:tel:+1-555-0002\r\n"
      "NOTE:A fairly long note that an exporter folds at seventy-five octets\\, so\r\n"
      "  it goes on here\\nand on.\r\nREV:20240101T000000Z\r\nEND:VCARD\r\n";
  const ORVA::APIResponse response = importText(file);
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_EQ(
      storedTexts(),
      sorted({storedAs("N:Doe;John;;;\r\nFN:John Doe\r\nNOTE:first line\\nsecond line\r\n", "@"),
              storedAs("N:Roe;Jane;;;\r\nFN:Jane Roe\r\nTEL;TYPE=CELL:+15550001\r\n", "@"),
              storedAs("PRODID:-//Desk//Book 1.0//EN\r\nN:Ray;Max;;;\r\nFN:Max Ray\r\n"
                       "item1.EMAIL;type=INTERNET;type=pref:max@example.org\r\n"
                       "item1.X-ABLabel:_$!<Other>!$_\r\n"
                       "item2.ADR;type=HOME:;;1 Main St;Town;;12345;\r\nitem2.X-ABADR:us\r\n"
                       "PHOTO;ENCODING=b;TYPE=JPEG:" +
                           photo + "\r\n",
                       "@"),
              storedAs("FN:Eve Lee\r\nN:Lee;Eve;;;\r\nTEL;TYPE=cell;VALUE=uri:tel:+1-555-0002\r\n"
                       "NOTE:A fairly long note that an exporter folds at seventy-five "
                       "octets\\, so it goes on here\\nand on.\r\n",
                       "@")}));
}

// Files as exporters write them: tests/data/import/NAME.vcf. NAME.expected
// holds the cards the store must keep (UID written "@"), NAME.vobject what
// vobject reads of them.
class ImportExporterFile : public ImportCards, public ::testing::WithParamInterface<const char*> {};

TEST_P(ImportExporterFile, StoresItsCardsAsVCard30ThatVobjectReadsAsMeant) {
  const std::string name = GetParam();
  const ORVA::APIResponse response = importPath(kImportData + name + ".vcf");
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_EQ(storedTexts(),
            sorted(splitCards(orva_test::readFile(kImportData + name + ".expected"))));
  EXPECT_EQ(loadedByVobject(), sorted(orva_test::readLines(kImportData + name + ".vobject")));
}

INSTANTIATE_TEST_SUITE_P(Exporters, ImportExporterFile,
                         ::testing::Values("desktop_mail_client_21", "phone_21",
                                           "old_phone_latin1_21", "text_editor_bom_30",
                                           "mixed_versions", "marker_case_30",
                                           "standalone_encodings_21", "no_charset_windows1252"));

// A file imported, then listed back as contact records with their fields.
TEST_F(ImportCards, ImportedCardsListBackWithTheirFields) {
  const ORVA::APIResponse imported = importText(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;John;Q;;\r\nFN:John Doe\r\nORG:Acme\r\n"
      "TITLE:Engineer\r\nEMAIL;type=INTERNET;type=WORK:john@example.org\r\n"
      "TEL;type=CELL:+1 555 0100\r\nNOTE:likes tea\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Roe;Jane;;;\r\nFN:Jane Roe\r\nEND:VCARD\r\n");
  ASSERT_TRUE(imported.IsSuccess()) << orva_test::toJson(imported.Envelope());

  Json::Value request(Json::objectValue);
  request["user"] = "alice";
  const ORVA::APIResponse listed =
      orva_test::callHandler(&ContactAndCalendarHandler::listCards, request);
  ASSERT_TRUE(listed.IsSuccess()) << orva_test::toJson(listed.Envelope());
  const Json::Value& list = listed.Data()["cards"];
  ASSERT_EQ(list.size(), 2u) << orva_test::toJson(listed.Data());
  const auto stored = cards();
  const Json::Value* john = nullptr;
  for (const Json::Value& card : list) {
    EXPECT_EQ(stored.count(card["id"].asString()), 1u) << orva_test::toJson(card);
    if (card["name"]["given_name"].asString() == "John") john = &card;
  }
  ASSERT_NE(john, nullptr) << orva_test::toJson(list);
  EXPECT_EQ((*john)["name"]["family_name"], Json::Value("Doe"));
  EXPECT_EQ((*john)["name"]["additional_name"], Json::Value("Q"));
  EXPECT_EQ((*john)["company"]["org"], Json::Value("Acme"));
  EXPECT_EQ((*john)["company"]["title"], Json::Value("Engineer"));
  EXPECT_EQ((*john)["mail"][0]["data"], Json::Value("john@example.org"));
  EXPECT_EQ((*john)["tel"][0]["data"], Json::Value("+1 555 0100"));
  EXPECT_EQ((*john)["note"], Json::Value("likes tea"));
}

// The host's own way in: the orva-webapi program loads the module and serves
// one call from its command line.
TEST_F(ImportCards, ThroughTheHostProgram) {
  const std::string command = std::string(ORVA_BIN_DIR) + "/orva-webapi --root '" + root_.path() +
                              "' call ORVA.ContactAndCalendar.Contacts import_cards user=alice" +
                              " 'file_tmp=" + kImportData + "desktop_mail_client_21.vcf'" +
                              " file=contacts.vcf";
  const CommandResult result = run(command);
  const Json::Value answer = orva_test::parseJson(result.out);
  EXPECT_EQ(answer["success"], Json::Value(true)) << result.out;
  EXPECT_EQ(answer["data"]["skipped"], Json::Value(0)) << result.out;
  EXPECT_GT(answer["data"]["stored"].asInt(), 0) << result.out;
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(
      storedTexts(),
      sorted(splitCards(orva_test::readFile(kImportData + "desktop_mail_client_21.expected"))));
}

}  // namespace
