// DBHandler's calls, each with its true and false cases, and the files they
// leave on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/value.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/contact_store.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using orva_test::readFile;

const char kCollections[] = "/var/packages/Tessaro/var/collections";

std::string card(const std::string& uid, const std::string& extra = "") {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:Ann Example\r\n" + extra +
         "END:VCARD\r\n";
}

bool isUuidText(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    if (std::isupper(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

std::set<std::string> filesUnder(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ignored;
  for (fs::recursive_directory_iterator it(dir, ignored), end; it != end; it.increment(ignored)) {
    names.insert(fs::relative(it->path(), dir).string());
  }
  return names;
}

class StoreCallsTest : public ::testing::Test {
 protected:
  std::string setup(const std::string& user) {
    store_.SetupUserBasicInfo(user);
    return store_.GetGUID(user);
  }
  std::string book(const std::string& user) const {
    return root_.at(kCollections) + "/collection-root/" + user + "/contacts";
  }

  orva_test::TempRoot root_;
  DBHandler store_;
};

TEST_F(StoreCallsTest, SetupGivesAStableGuidPerUser) {
  EXPECT_EQ(store_.GetGUID("alice"), "");
  const std::string alice = setup("alice");
  EXPECT_TRUE(isUuidText(alice)) << alice;
  store_.SetupUserBasicInfo("alice");
  EXPECT_EQ(store_.GetGUID("alice"), alice);
  EXPECT_EQ(DBHandler().GetGUID("alice"), alice);
  const std::string bob = setup("bob");
  EXPECT_TRUE(isUuidText(bob));
  EXPECT_NE(bob, alice);
  EXPECT_EQ(store_.GetGUID("Alice"), "");
}

TEST_F(StoreCallsTest, SetupWritesTheBookInTheServersLayout) {
  const std::string guid = setup("alice");
  const Json::Value props = orva_test::parseJson(readFile(book("alice") + "/.Radicale.props"));
  ASSERT_TRUE(props.isObject());
  EXPECT_EQ(props.size(), 2u);
  EXPECT_EQ(props["tag"], Json::Value("VADDRESSBOOK"));
  EXPECT_EQ(props["D:displayname"], Json::Value("Contacts"));
  EXPECT_TRUE(fs::exists(root_.at(kCollections) + "/.Radicale.lock"));
  // The map stays out of the server's collections, and nothing there holds the GUID.
  for (const std::string& name : filesUnder(root_.at(kCollections))) {
    EXPECT_EQ(name.find(guid), std::string::npos) << name;
    const std::string path = root_.at(kCollections) + "/" + name;
    if (fs::is_regular_file(path)) {
      EXPECT_EQ(readFile(path).find(guid), std::string::npos) << name;
    }
  }
  EXPECT_EQ(readFile(root_.at("/var/packages/Tessaro/var/users/by-name/alice")), guid);
  EXPECT_EQ(readFile(root_.at("/var/packages/Tessaro/var/users/by-guid/" + guid)), "alice");
}

TEST_F(StoreCallsTest, SetupLeavesExistingPropsAlone) {
  fs::create_directories(book("carol"));
  const std::string own = "{\"tag\": \"VADDRESSBOOK\", \"D:displayname\": \"Mine\"}";
  ASSERT_TRUE(orva_test::writeFile(book("carol") + "/.Radicale.props", own));
  EXPECT_FALSE(setup("carol").empty());
  EXPECT_EQ(readFile(book("carol") + "/.Radicale.props"), own);
}

TEST_F(StoreCallsTest, SetupRepairsAMissingBook) {
  const std::string guid = setup("alice");
  fs::remove_all(book("alice"));
  EXPECT_EQ(setup("alice"), guid);
  EXPECT_TRUE(fs::exists(book("alice") + "/.Radicale.props"));
}

TEST_F(StoreCallsTest, AddBringsBackADeletedBook) {
  const std::string guid = setup("alice");
  ASSERT_TRUE(store_.AddCard(guid, "c1", card("c1")));
  fs::remove_all(book("alice"));
  Json::Value ids, texts;
  EXPECT_EQ(store_.GetCards(ids, texts, guid), 0);
  EXPECT_FALSE(store_.UpdateCard(guid, "c1", card("c1")));
  EXPECT_TRUE(store_.AddCard(guid, "c2", card("c2")));
  EXPECT_EQ(store_.GetGUID("alice"), guid);
  EXPECT_TRUE(fs::exists(book("alice") + "/.Radicale.props"));
  EXPECT_EQ(store_.GetCards(ids, texts, guid), 1);
}

TEST_F(StoreCallsTest, GetUuidIsFreshLowerCaseUuid) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = store_.GetUUID();
    ASSERT_TRUE(isUuidText(id)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST_F(StoreCallsTest, AddStoresByteForByteAndRefusesATakenName) {
  const std::string guid = setup("alice");
  const std::string text = card("c1", "NOTE:caf\xC3\xA9\r\n");
  EXPECT_TRUE(store_.AddCard(guid, "c1", text));
  EXPECT_EQ(readFile(book("alice") + "/c1"), text);
  EXPECT_FALSE(store_.AddCard(guid, "c1", card("other")));
  EXPECT_EQ(readFile(book("alice") + "/c1"), text);
  // Only the card and the props: no temporary file stays behind.
  EXPECT_EQ(filesUnder(book("alice")), (std::set<std::string>{".Radicale.props", "c1"}));
  struct stat st {};
  ASSERT_EQ(::stat((book("alice") + "/c1").c_str(), &st), 0);
  // Address books are the appliance user's alone.
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const std::string& folder :
       {book("alice"), root_.at("/var/packages/Tessaro/var/users/by-name")}) {
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
  }
}

TEST_F(StoreCallsTest, GetCardsAppendsInNameOrder) {
  const std::string guid = setup("alice");
  for (const char* name : {"b", "C", "a", "a0"}) {
    ASSERT_TRUE(store_.AddCard(guid, name, card(std::string("uid-") + name)));
  }
  // Entries the server ignores are not cards.
  orva_test::writeFile(book("alice") + "/.hidden", card("h"));
  orva_test::writeFile(book("alice") + "/backup~", card("b"));
  fs::create_directory(book("alice") + "/sub");
  fs::create_symlink(book("alice") + "/a", book("alice") + "/link");

  Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
  ids.append("kept");
  texts.append("kept");
  EXPECT_EQ(store_.GetCards(ids, texts, guid), 4);
  ASSERT_EQ(ids.size(), 5u);
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(ids[0], Json::Value("kept"));
  const char* order[] = {"C", "a", "a0", "b"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ids[i + 1].asString(), order[i]);
    EXPECT_EQ(texts[i + 1].asString(), card(std::string("uid-") + order[i]));
  }
}

TEST_F(StoreCallsTest, WindowsSeeACardAddedWithinTheSameSecond) {
  const std::string guid = setup("alice");
  for (const char* name : {"a", "c"}) ASSERT_TRUE(store_.AddCard(guid, name, card(name)));
  // The folder's change time, as a file system with fine stamps gives it.
  const auto stamp = [&](long nanoseconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, nanoseconds}};
    return ::utimensat(AT_FDCWD, book("alice").c_str(), times, 0) == 0;
  };
  const auto window = [&](int offset) {
    Json::Value ids, texts;
    const int total = store_.GetCardWindow(ids, texts, guid, offset, 1);
    return std::to_string(total) + " " + (ids.empty() ? "-" : ids[0].asString());
  };
  ASSERT_TRUE(stamp(100));
  EXPECT_EQ(window(0), "2 a");
  EXPECT_EQ(window(1), "2 c");  // the names are kept from here on
  // Another client adds a card in the same second.
  ASSERT_TRUE(orva_test::writeFile(book("alice") + "/b", card("b")));
  ASSERT_TRUE(stamp(200));
  EXPECT_EQ(window(1), "3 b");
  EXPECT_EQ(window(2), "3 c");
}

TEST_F(StoreCallsTest, GetCardsOfUnknownOrEmptyBooks) {
  Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
  EXPECT_EQ(store_.GetCards(ids, texts, ""), 0);
  const std::string guid = setup("alice");
  EXPECT_EQ(store_.GetCards(ids, texts, guid), 0);
  EXPECT_EQ(store_.GetCards(ids, texts, store_.GetUUID()), 0);
  EXPECT_EQ(store_.GetCards(ids, texts, "../users"), 0);
  Json::Value object(Json::objectValue);
  ASSERT_TRUE(store_.AddCard(guid, "x", card("x")));
  EXPECT_EQ(store_.GetCards(object, texts, guid), 0);
  EXPECT_EQ(ids.size(), 0u);
  EXPECT_EQ(texts.size(), 0u);
}

TEST_F(StoreCallsTest, UpdateReplacesOnlyAnExistingCard) {
  const std::string guid = setup("alice");
  EXPECT_FALSE(store_.UpdateCard(guid, "c1", card("c1")));
  EXPECT_FALSE(fs::exists(book("alice") + "/c1"));
  ASSERT_TRUE(store_.AddCard(guid, "c1", card("c1")));
  EXPECT_TRUE(store_.UpdateCard(guid, "c1", card("c1", "NOTE:new\r\n")));
  EXPECT_EQ(readFile(book("alice") + "/c1"), card("c1", "NOTE:new\r\n"));
  fs::create_directory(book("alice") + "/dir");
  EXPECT_FALSE(store_.UpdateCard(guid, "dir", card("d")));
}

TEST_F(StoreCallsTest, DeleteRemovesOnlyAnExistingCard) {
  const std::string guid = setup("alice");
  EXPECT_FALSE(store_.DelCard(guid, "c1"));
  ASSERT_TRUE(store_.AddCard(guid, "c1", card("c1")));
  ASSERT_TRUE(store_.AddCard(guid, "c2", card("c2")));
  EXPECT_TRUE(store_.DelCard(guid, "c1"));
  EXPECT_FALSE(store_.DelCard(guid, "c1"));
  Json::Value ids, texts;
  EXPECT_EQ(store_.GetCards(ids, texts, guid), 1);
  EXPECT_EQ(ids[0], Json::Value("c2"));
}

TEST_F(StoreCallsTest, ExportWritesAndReplacesTheVcfFile) {
  const std::string guid = setup("alice");
  const std::string exportDir = root_.at("/var/packages/Tessaro/var/export/alice");
  EXPECT_FALSE(store_.ExportData(guid, "c1"));
  EXPECT_FALSE(fs::exists(exportDir + "/c1.vcf"));
  ASSERT_TRUE(store_.AddCard(guid, "c1", card("c1")));
  EXPECT_TRUE(store_.ExportData(guid, "c1"));
  EXPECT_EQ(readFile(exportDir + "/c1.vcf"), card("c1"));
  ASSERT_TRUE(store_.UpdateCard(guid, "c1", card("c1", "NOTE:second\r\n")));
  EXPECT_TRUE(store_.ExportData(guid, "c1"));
  EXPECT_EQ(readFile(exportDir + "/c1.vcf"), card("c1", "NOTE:second\r\n"));
  EXPECT_EQ(filesUnder(exportDir), (std::set<std::string>{"c1.vcf"}));
  // A name too long for a file with its suffix fails cleanly.
  const std::string longName(253, 'n');
  ASSERT_TRUE(store_.AddCard(guid, longName, card("long")));
  EXPECT_FALSE(store_.ExportData(guid, longName));
  EXPECT_EQ(filesUnder(exportDir), (std::set<std::string>{"c1.vcf"}));
  struct stat st {};
  ASSERT_EQ(::stat((exportDir + "/c1.vcf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(exportDir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A deleted card leaves no copy behind.
  EXPECT_TRUE(store_.DelCard(guid, "c1"));
  EXPECT_TRUE(filesUnder(exportDir).empty());
}

TEST_F(StoreCallsTest, EveryCardCallIsFalseForAnUnknownGuid) {
  const std::string alice = setup("alice");
  ASSERT_TRUE(store_.AddCard(alice, "c1", card("c1")));
  for (const std::string& guid :
       {std::string(), store_.GetUUID(), std::string("alice"), std::string("../by-name/alice")}) {
    SCOPED_TRACE(guid);
    EXPECT_FALSE(store_.AddCard(guid, "c2", card("c2")));
    EXPECT_FALSE(store_.UpdateCard(guid, "c1", card("c1")));
    EXPECT_FALSE(store_.DelCard(guid, "c1"));
    EXPECT_FALSE(store_.ExportData(guid, "c1"));
  }
  std::string upper = alice;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper != alice) {
    EXPECT_FALSE(store_.DelCard(upper, "c1"));
  }
  EXPECT_EQ(readFile(book("alice") + "/c1"), card("c1"));
}

TEST_F(StoreCallsTest, OneUsersGuidNeverReachesAnothersCards) {
  const std::string alice = setup("alice");
  const std::string bob = setup("bob");
  ASSERT_TRUE(store_.AddCard(bob, "b1", card("b1")));
  EXPECT_FALSE(store_.DelCard(alice, "b1"));
  EXPECT_FALSE(store_.UpdateCard(alice, "b1", card("x")));
  EXPECT_TRUE(store_.AddCard(alice, "b1", card("a1")));
  EXPECT_EQ(readFile(book("bob") + "/b1"), card("b1"));
}

TEST_F(StoreCallsTest, AMismatchedMapEntryIsUnknown) {
  const std::string alice = setup("alice");
  // A by-guid entry that the by-name side does not confirm is not trusted.
  ASSERT_TRUE(orva_test::writeFile(root_.at("/var/packages/Tessaro/var/users/by-name/alice"),
                                   store_.GetUUID()));
  EXPECT_EQ(store_.GetGUID("alice"), "");
  EXPECT_FALSE(store_.AddCard(alice, "c1", card("c1")));
}

}  // namespace
