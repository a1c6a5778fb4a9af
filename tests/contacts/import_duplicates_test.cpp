// A re-import adds no card twice: cards equal to ones in the book are
// counted as duplicates, cards from a source UID imported before are
// reported as update candidates; neither is stored again.
#include <gtest/gtest.h>
#include <json/value.h>

#include <map>
#include <string>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

const char kPhoneBackup[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone-1\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\n"
    "TEL;TYPE=CELL,VOICE:+1 555 0100\r\nORG:Acme\\, Inc.;Sales\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone-2\r\nFN:Bob Roe\r\nN:Roe;Bob;;;\r\n"
    "EMAIL;TYPE=INTERNET:bob@example.org\r\nNOTE:first\\nsecond\r\nEND:VCARD\r\n";

class ImportDuplicates : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.SetupUserBasicInfo("alice");
    guid_ = store_.GetGUID("alice");
  }

  ORVA::APIResponse import(const std::string& content) {
    const std::string path = root_.path() + "/upload-" + std::to_string(++uploads_) + ".vcf";
    EXPECT_TRUE(orva_test::writeFile(path, content));
    Json::Value params(Json::objectValue);
    params["user"] = "alice";
    params["file_tmp"] = path;
    params["file"] = "contacts.vcf";
    return orva_test::callHandler(&ContactAndCalendarHandler::importCards, params);
  }

  std::map<std::string, std::string> cards() {
    Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
    store_.GetCards(ids, texts, guid_);
    std::map<std::string, std::string> out;
    for (Json::ArrayIndex i = 0; i < ids.size(); ++i) out[ids[i].asString()] = texts[i].asString();
    return out;
  }

  orva_test::TempRoot root_;
  DBHandler store_;
  std::string guid_;
  int uploads_ = 0;
};

TEST_F(ImportDuplicates, TheSameFileTwiceStoresNothingTheSecondTime) {
  ORVA::APIResponse first = import(kPhoneBackup);
  ASSERT_TRUE(first.IsSuccess());
  EXPECT_EQ(first.Data()["stored"], 2u);
  EXPECT_EQ(first.Data()["duplicates"], 0u);
  const auto book = cards();

  const ORVA::APIResponse second = import(kPhoneBackup);
  ASSERT_TRUE(second.IsSuccess()) << orva_test::toJson(second.Envelope());
  EXPECT_EQ(second.Data()["stored"], 0u);
  EXPECT_EQ(second.Data()["duplicates"], 2u);
  EXPECT_EQ(cards(), book);
}

TEST_F(ImportDuplicates, AnExportedBookImportedAgainIsUnchanged) {
  ASSERT_TRUE(import(kPhoneBackup).IsSuccess());
  // Edited through the module, so that cards are in the writer's spelling.
  Json::Value params(Json::objectValue);
  params["user"] = "alice";
  Json::Value added = params;
  added["card"]["name"]["family_name"] = "Kim";
  added["card"]["company"]["org"] = "Kim & Co, Ltd";
  ASSERT_TRUE(orva_test::callHandler(&ContactAndCalendarHandler::addCard, added).IsSuccess());
  const auto book = cards();
  std::string exported;
  for (const auto& [name, text] : book) exported += text;

  const ORVA::APIResponse again = import(exported);
  ASSERT_TRUE(again.IsSuccess()) << orva_test::toJson(again.Envelope());
  EXPECT_EQ(again.Data()["stored"], 0u);
  EXPECT_EQ(again.Data()["duplicates"], 3u);
  EXPECT_EQ(cards(), book);
}

TEST_F(ImportDuplicates, EqualMeansTheSamePropertiesWhateverTheSpelling) {
  ASSERT_TRUE(import(kPhoneBackup).IsSuccess());
  // Another UID and REV, other line order, folding, letter case and type
  // spelling, and a ',' left unescaped: still the same card.
  const ORVA::APIResponse same = import(
      "BEGIN:VCARD\r\nversion:3.0\r\nn:Lee;Ann;;;\r\nREV:2024-01-01T00:00:00Z\r\n"
      "org:Acme, Inc.;Sales\r\ntel;type=voice;type=cell:+1 55\r\n 5 0100\r\nUID:other\r\n"
      "fn:Ann Lee\r\nPRODID:-//x//y//EN\r\nEND:VCARD\r\n");
  ASSERT_TRUE(same.IsSuccess()) << orva_test::toJson(same.Envelope());
  EXPECT_EQ(same.Data()["duplicates"], 1u);
  EXPECT_EQ(cards().size(), 2u);

  // One property more or one value changed is another card.
  const ORVA::APIResponse other = import(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\nTEL;TYPE=CELL,VOICE:+1 555 "
      "0100\r\nORG:Acme\\, Inc.;Sales\r\nNICKNAME:Annie\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\nTEL;TYPE=CELL,VOICE:+1 555 "
      "0101\r\nORG:Acme\\, Inc.;Sales\r\nEND:VCARD\r\n");
  EXPECT_EQ(other.Data()["stored"], 2u);
  EXPECT_EQ(other.Data()["duplicates"], 0u);
  // Two equal cards in one file: the second is a duplicate of the first.
  const ORVA::APIResponse twice =
      import("BEGIN:VCARD\r\nFN:Zed\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:Zed\r\nEND:VCARD\r\n");
  EXPECT_EQ(twice.Data()["stored"], 1u);
  EXPECT_EQ(twice.Data()["duplicates"], 1u);
}

TEST_F(ImportDuplicates, AChangedCardFromAnEarlierImportIsAnUpdateCandidate) {
  ASSERT_TRUE(import(kPhoneBackup).IsSuccess());
  std::string annId;
  for (const auto& [name, text] : cards()) {
    if (text.find("FN:Ann Lee") != std::string::npos) annId = name;
  }
  // The same phone, a month later: Ann has a new number.
  std::string later = kPhoneBackup;
  later.replace(later.find("+1 555 0100"), 11, "+1 555 0199");
  const ORVA::APIResponse again = import(later);
  ASSERT_TRUE(again.IsSuccess()) << orva_test::toJson(again.Envelope());
  EXPECT_EQ(again.Data()["stored"], 0u);
  EXPECT_EQ(again.Data()["duplicates"], 1u);
  ASSERT_EQ(again.Data()["update_candidates"].size(), 1u);
  EXPECT_EQ(again.Data()["update_candidates"][0]["uid"], "phone-1");
  EXPECT_EQ(again.Data()["update_candidates"][0]["id"], annId);
  // The file's card comes with it, for the page to show and apply.
  EXPECT_EQ(again.Data()["update_candidates"][0]["card"]["tel"][0]["data"], "+1 555 0199");
  EXPECT_EQ(cards().size(), 2u);

  // The record of where cards came from is no card of the book.
  Json::Value params(Json::objectValue);
  params["user"] = "alice";
  EXPECT_EQ(
      orva_test::callHandler(&ContactAndCalendarHandler::listCards, params).Data()["cards"].size(),
      2u);
}

TEST_F(ImportDuplicates, CardsOfOneFileSharingAUidAreAllStored) {
  const ORVA::APIResponse response = import(
      "BEGIN:VCARD\r\nUID:same\r\nFN:Ann\r\nEND:VCARD\r\nBEGIN:VCARD\r\nUID:same\r\nFN:Bob\r\n"
      "END:VCARD\r\n");
  EXPECT_EQ(response.Data()["stored"], 2u);
  EXPECT_FALSE(response.Data().isMember("update_candidates"));
}

}  // namespace
