// A large book is read on several threads: the answer must be exactly the
// one of reading card after card, each with a label table of its own.
#include <dirent.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/contact_store.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

// Cards shaped as phones, desktop address books, webmail and CardDAV clients
// write them. Groups reuse the same names from card to card, with labels on
// some cards and none on others, so that a label left over from another card
// would show.
std::string realShapedCard(int i, std::mt19937& rng) {
  const auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string n = std::to_string(i);
  std::string c = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  switch (i % 5) {
    case 0:  // desktop address book: grouped entries with custom labels
      c += "PRODID:-//Apple Inc.//macOS 13.4//EN\r\nN:Smith" + n + ";Anna;;;\r\nFN:Anna\r\n";
      c += "item1.EMAIL;type=INTERNET;type=pref:anna" + n + "@example.com\r\n";
      if (pick(2)) c += "item1.X-ABLabel:_$!<Gym" + n + ">!$_\r\n";
      c += "item2.TEL;type=CELL:+1 555 " + n + "\r\nitem2.X-ABLabel:Car\r\n";
      c += "item3.ADR;type=HOME:;;" + n + " Main St;Springfield;IL;62701;USA\r\n";
      if (pick(2)) c += "item3.X-ABADR:us\r\n";
      break;
    case 1:  // webmail export
      c += "N:Garc\xc3\xad"
           "a;Chlo\xc3\xa9;;;\r\nFN:Chlo\xc3\xa9\r\nORG:Company " +
           n + ";\r\n";
      c += "TITLE:Manager\r\nEMAIL;TYPE=INTERNET;TYPE=HOME:c" + n + "@mail.example\r\n";
      c += "TEL;TYPE=CELL:+44 20 " + n + "\r\nCATEGORIES:myContacts\r\n";
      break;
    case 2:  // phone, vCard 2.1 style parameters, a note that runs on
      c += "N:Nguyen;Hugo;;;\r\nTEL;CELL:0" + n + "\r\nTEL;HOME;VOICE:1" + n + "\r\n";
      c += "NOTE:first line\r\nsecond line " + n + "\r\nthird\r\n";
      c += "item1.EMAIL;type=INTERNET:nolabel" + n + "@example.org\r\n";  // no label here
      break;
    case 3:  // CardDAV client: long lines folded, a photo
      c += "UID:urn:uuid:" + n + "\r\nN:O'Brien;Eva;;;\r\nFN:Eva O'Brien\r\n";
      c += "NOTE:a long note about a meeting that went on and on and on and on and\r\n";
      c += "  on, written by a client that folds at 75 octets " + n + "\r\n";
      c += "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD\r\n /2wBDAAMCAgICAgMC\r\n";
      c += "URL;type=WORK:https://www.example.com/~eva" + n + "\r\n";
      break;
    default:  // the module's own writer, with an address joined by a line
      c += "FN:Kim\r\nN:Kim;Alex;Lee;;\r\nORG:Smithfield Ltd\r\n";
      c += "ADR;TYPE=WORK:;;" + n + " Elm Rd;Oakton\r\nVA 22124\r\n";
      c += "item2.X-ABLabel:Left over\r\nBDAY:1980-01-0" + std::to_string(1 + pick(9)) + "\r\n";
  }
  c += "REV:2024-05-01T10:00:00Z\r\n";
  return c + "END:VCARD\r\n";
}

class ListCardsOnWorkers : public ::testing::Test {
 protected:
  static constexpr int kCards = 800;

  // One book for the suite: writing it is most of the time.
  static void SetUpTestSuite() {
    root_ = new orva_test::TempRoot();
    writeBook();
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }

  static void writeBook() {
    DBHandler db;
    db.SetupUserBasicInfo("many");
    ASSERT_TRUE(db.AddCard(db.GetGUID("many"), "card-00000",
                           "BEGIN:VCARD\r\nVERSION:3.0\r\n"
                           "UID:0\r\nFN:x\r\nN:x;;;;\r\nEND:VCARD\r\n"));
    // Written straight into the book: the store's own writes sync each
    // file, which would make this test slow.
    std::string book;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_->path())) {
      if (entry.path().filename() == "card-00000") book = entry.path().parent_path();
    }
    ASSERT_FALSE(book.empty());
    std::mt19937 rng(20240607);
    for (int i = 1; i < kCards; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "card-%05d", i);
      written_.push_back(realShapedCard(i, rng));
      ASSERT_TRUE(orva_test::writeFile(book + "/" + name, written_.back()));
    }
  }

  // What reading card after card gives, each card with a fresh label table.
  static Json::Value oneByOne(const std::string& key) {
    DBHandler db;
    Json::Value ids(Json::arrayValue);
    Json::Value texts(Json::arrayValue);
    const int count = db.GetCards(ids, texts, db.GetGUID("many"));
    Json::Value cards(Json::arrayValue);
    for (int i = 0; i < count; ++i) {
      ORVA::APIRequest request;
      ORVA::APIResponse response;
      ContactAndCalendarHandler reader(&request, &response, "test");
      std::string text = texts[i].asString();
      reader.ParseCardLabel(&text[0]);
      text = texts[i].asString();
      Json::Value record;
      reader.ParseCardText(&text[0], record);
      record["id"] = ids[i];
      record["etag"] = DBHandler::VersionOf(texts[i].asString());
      if (key.empty() || reader.isMatch(record, key)) cards.append(record);
    }
    Json::Value reply(Json::objectValue);
    reply["cards"] = cards;
    return reply;
  }

  static ORVA::APIResponse list(const std::string& key) {
    Json::Value params;
    params["user"] = "many";
    if (!key.empty()) params["search_key"] = key;
    return orva_test::callHandler(&ContactAndCalendarHandler::listCards, params);
  }

  static orva_test::TempRoot* root_;
  static std::vector<std::string> written_;  // texts of card-00001 on
};

orva_test::TempRoot* ListCardsOnWorkers::root_ = nullptr;
std::vector<std::string> ListCardsOnWorkers::written_;

// The store reads a large book on several threads too: every text whole,
// in name order.
TEST_F(ListCardsOnWorkers, StoreHandsEveryTextInNameOrder) {
  DBHandler db;
  Json::Value ids(Json::arrayValue);
  Json::Value texts(Json::arrayValue);
  ASSERT_EQ(db.GetCards(ids, texts, db.GetGUID("many")), kCards);
  for (int i = 1; i < kCards; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "card-%05d", i);
    ASSERT_EQ(ids[i].asString(), name);
    ASSERT_EQ(texts[i].asString(), written_[static_cast<std::size_t>(i - 1)]) << name;
  }
}

TEST_F(ListCardsOnWorkers, SameAnswerAsReadingOneCardAfterTheOther) {
  for (const std::string key : {"", "smith", "555 1", "zzz-nothing"}) {
    const ORVA::APIResponse response = list(key);
    ASSERT_TRUE(response.IsSuccess()) << key;
    const Json::Value expected = oneByOne(key);
    EXPECT_EQ(response.Data()["cards"].size(), expected["cards"].size()) << key;
    // Byte for byte, order included.
    EXPECT_EQ(orva_test::toJson(response.Data()), orva_test::toJson(expected)) << key;
  }
  EXPECT_EQ(list("").Data()["cards"].size(), static_cast<Json::ArrayIndex>(kCards));
}

int threadsOfProcess() {
  int count = 0;
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(tasks)) count += entry->d_name[0] != '.';
    ::closedir(tasks);
  }
  return count;
}

TEST_F(ListCardsOnWorkers, NoThreadOutlivesTheCall) {
  const int before = threadsOfProcess();
  ASSERT_TRUE(list("").IsSuccess());
  EXPECT_EQ(threadsOfProcess(), before);
}

}  // namespace
