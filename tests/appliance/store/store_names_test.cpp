// Hostile user names, resource names and GUIDs: refused, and nothing is
// ever created outside the store's folders.
#include <gtest/gtest.h>
#include <json/value.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/contact_store.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using std::string;

// Every entry under dir with its size (folders as -1).
std::map<string, long long> snapshot(const string& dir) {
  std::map<string, long long> entries;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    entries[fs::relative(entry.path(), dir).string()] =
        entry.is_regular_file() ? static_cast<long long>(entry.file_size()) : -1;
  }
  return entries;
}

const string kCard = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u\r\nFN:u\r\nEND:VCARD\r\n";

std::vector<string> hostileNames() {
  return {"",
          ".",
          "..",
          ".hidden",
          "x~",
          "/",
          "a/b",
          "../../escape",
          "../../../tmp",
          "/etc/passwd",
          "..\\..",
          string("a\0b", 3),
          string("\0", 1),
          ".Radicale.props",
          "~/x",
          "a/../b",
          "name~",
          "./a"};
}

// Names that would be real folders, but that no user could type or see.
std::vector<string> hostileUserNames() {
  std::vector<string> names = hostileNames();
  for (const char* name : {"a\tb", "line\nbreak", "bell\a", "del\x7f", "esc\x1b[0m", "bad\xC3(utf8",
                           "\xC0\xAFoverlong", "\xED\xA0\x80surrogate", " alice", "alice ", " "}) {
    names.emplace_back(name);
  }
  return names;
}

TEST(StoreNamesTest, HostileUserNamesAreUnknownAndNeverSetUp) {
  orva_test::TempRoot root;
  DBHandler store;
  for (const string& name : hostileUserNames()) {
    SCOPED_TRACE(name);
    store.SetupUserBasicInfo(name);
    EXPECT_EQ(store.GetGUID(name), "");
  }
  // Not even the store's folders were made.
  EXPECT_TRUE(snapshot(root.path()).empty());
}

TEST(StoreNamesTest, UnusualButSafeUserNamesWork) {
  orva_test::TempRoot root;
  DBHandler store;
  const string collectionRoot = root.at("/var/packages/Tessaro/var/collections/collection-root/");
  for (const string& name : {string("a b"), string("J\xC3\xBCrgen"), string("a\\b"),
                             string("x.y~z"), string("user@example.com")}) {
    SCOPED_TRACE(name);
    store.SetupUserBasicInfo(name);
    const string guid = store.GetGUID(name);
    ASSERT_FALSE(guid.empty());
    EXPECT_TRUE(store.AddCard(guid, "c", kCard));
    EXPECT_EQ(orva_test::readFile(collectionRoot + name + "/contacts/c"), kCard);
  }
}

TEST(StoreNamesTest, HostileResourceNamesChangeNothing) {
  orva_test::TempRoot root;
  DBHandler store;
  store.SetupUserBasicInfo("alice");
  const string guid = store.GetGUID("alice");
  ASSERT_TRUE(store.AddCard(guid, "c1", kCard));
  ASSERT_TRUE(store.ExportData(guid, "c1"));
  const auto before = snapshot(root.path());
  for (const string& name : hostileNames()) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(store.AddCard(guid, name, kCard));
    EXPECT_FALSE(store.UpdateCard(guid, name, kCard));
    EXPECT_FALSE(store.ExportData(guid, name));
    EXPECT_FALSE(store.DelCard(guid, name));
  }
  // The props file is not a card, whatever its name suggests.
  EXPECT_FALSE(store.DelCard(guid, ".Radicale.props"));
  EXPECT_EQ(snapshot(root.path()), before);
}

TEST(StoreNamesTest, ForgedGuidsReachNothing) {
  orva_test::TempRoot root;
  DBHandler store;
  store.SetupUserBasicInfo("alice");
  const string guid = store.GetGUID("alice");
  ASSERT_TRUE(store.AddCard(guid, "c1", kCard));
  const auto before = snapshot(root.path());
  for (const string& forged : {string("../by-name/alice"), string("alice"), guid + "/",
                               string("../../collections/collection-root/alice"),
                               guid.substr(0, 35) + "/", string(guid.c_str(), 35) + '\0'}) {
    SCOPED_TRACE(forged);
    Json::Value ids, texts;
    EXPECT_EQ(store.GetCards(ids, texts, forged), 0);
    EXPECT_FALSE(store.AddCard(forged, "c2", kCard));
    EXPECT_FALSE(store.DelCard(forged, "c1"));
    EXPECT_FALSE(store.ExportData(forged, "c1"));
  }
  EXPECT_EQ(snapshot(root.path()), before);
}

TEST(StoreNamesTest, WritesStayInsideTheStoreFolders) {
  orva_test::TempRoot root;
  {
    DBHandler store;
    store.SetupUserBasicInfo("alice");
    const string guid = store.GetGUID("alice");
    ASSERT_TRUE(store.AddCard(guid, "c1", kCard));
    ASSERT_TRUE(store.UpdateCard(guid, "c1", kCard));
    ASSERT_TRUE(store.ExportData(guid, "c1"));
    ASSERT_FALSE(store.AddCard(guid, "c2", "not a card"));
  }
  for (const auto& entry : snapshot(root.path())) {
    const string& path = entry.first;
    const bool inStore = path.rfind("var/packages/Tessaro/var", 0) == 0;
    const bool inLog = path == "var/log/store.log";
    const bool parent = path == "var" || path == "var/packages" || path == "var/packages/Tessaro" ||
                        path == "var/log";
    EXPECT_TRUE(inStore || inLog || parent) << path;
    // No temporary file stays behind.
    EXPECT_EQ(path.find(".orva-tmp"), string::npos) << path;
  }
}

}  // namespace
