// OLIBCFileSetSectionValue on its own: one key of one section changes, every
// other byte of the file stays.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "platform/system_services.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::readFile;
using orva_test::writeFile;

class IniFileTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root;
  const std::string file = "/etc/test.ini";
  void SetUp() override { ASSERT_TRUE(orva_file::makeFolders(root.at("/etc"))); }
  void put(const std::string& text) { ASSERT_TRUE(writeFile(root.at(file), text)); }
  std::string text() const { return readFile(root.at(file)); }
  int set(const char* section, const char* key, const char* value) {
    return OLIBCFileSetSectionValue(file.c_str(), section, key, value);
  }
};

TEST_F(IniFileTest, ChangesOnlyTheKeyOfTheNamedSection) {
  put("# head comment\n[a]\ndst.ports=\"1/tcp\"\n; note\n[b]\ndst.ports=\"1/tcp\"\nx=y\n");
  ASSERT_EQ(set("b", "dst.ports", "2/tcp"), 0);
  EXPECT_EQ(text(),
            "# head comment\n[a]\ndst.ports=\"1/tcp\"\n; note\n[b]\ndst.ports=\"2/tcp\"\nx=y\n");
}

TEST_F(IniFileTest, KeepsSpacingQuotingAndLineEndsOfTheLineItChanges) {
  put("[ s ]\r\n  key = \"old\"\r\nplain=old\nother=1");
  ASSERT_EQ(set("s", "key", "new"), 0);
  ASSERT_EQ(set("s", "plain", "new"), 0);
  EXPECT_EQ(text(), "[ s ]\r\n  key = \"new\"\r\nplain=new\nother=1\n");
}

TEST_F(IniFileTest, AddsAMissingKeyAtTheEndOfItsSection) {
  put("[a]\nx=1\n\n[b]\ny=2\n");
  ASSERT_EQ(set("a", "k", "v"), 0);
  EXPECT_EQ(text(), "[a]\nx=1\nk=\"v\"\n\n[b]\ny=2\n");
}

TEST_F(IniFileTest, AddsAMissingSectionAndCreatesAMissingFile) {
  ASSERT_EQ(set("a", "k", "v"), 0);
  EXPECT_EQ(text(), "[a]\nk=\"v\"\n");
  ASSERT_EQ(set("b", "k", "w"), 0);
  EXPECT_EQ(text(), "[a]\nk=\"v\"\n\n[b]\nk=\"w\"\n");
}

TEST_F(IniFileTest, SetsEveryCopyOfARepeatedKeyOrSection) {
  put("[a]\nk=1\nk=2\n[b]\nk=3\n[a]\nk=4\n");
  ASSERT_EQ(set("a", "k", "9"), 0);
  EXPECT_EQ(text(), "[a]\nk=9\nk=9\n[b]\nk=3\n[a]\nk=9\n");
}

TEST_F(IniFileTest, RefusesWhatWouldChangeTheFileStructure) {
  put("[a]\nk=1\n");
  EXPECT_LT(set("a", "k", "1\n[evil]"), 0);
  EXPECT_LT(set("a]", "k", "1"), 0);
  EXPECT_LT(set("a", "k=x", "1"), 0);
  EXPECT_LT(set("", "k", "1"), 0);
  EXPECT_LT(set("a", " k", "1"), 0);
  EXPECT_LT(set("a", nullptr, "1"), 0);
  EXPECT_LT(OLIBCFileSetSectionValue("etc/test.ini", "a", "k", "2"), 0);  // not an appliance path
  EXPECT_EQ(text(), "[a]\nk=1\n");
}

TEST_F(IniFileTest, FailsWhenTheFileCannotBeReadOrReplaced) {
  ASSERT_EQ(::mkdir(root.at(file).c_str(), 0755), 0);
  EXPECT_LT(set("a", "k", "1"), 0);
  EXPECT_LT(OLIBCFileSetSectionValue("/no/such/folder/x.ini", "a", "k", "1"), 0);
}

TEST_F(IniFileTest, KeepsTheModeAndLeavesNoTemporaryFile) {
  put("[a]\nk=1\n");
  ASSERT_EQ(::chmod(root.at(file).c_str(), 0600), 0);
  ASSERT_EQ(set("a", "k", "2"), 0);
  struct stat st {};
  ASSERT_EQ(::stat(root.at(file).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  DIR* dir = ::opendir(root.at("/etc").c_str());
  ASSERT_NE(dir, nullptr);
  int entries = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") ++entries;
  }
  ::closedir(dir);
  EXPECT_EQ(entries, 1);
}

}  // namespace

namespace {

TEST_F(IniFileTest, ReadsOneKeyOfOneSectionWithoutItsQuotes) {
  put("[a]\ndst.ports=\"1/tcp\"\n[b]\n dst.ports = 2/tcp "
      "\r\n[c]\nk=1\nk=2\n[d]\nk=same\nk=\"same\"\n");
  char value[16];
  ASSERT_EQ(OLIBCFileGetSectionValue(file.c_str(), "a", "dst.ports", value, sizeof value), 0);
  EXPECT_STREQ(value, "1/tcp");
  ASSERT_EQ(OLIBCFileGetSectionValue(file.c_str(), "b", "dst.ports", value, sizeof value), 0);
  EXPECT_STREQ(value, "2/tcp");
  ASSERT_EQ(OLIBCFileGetSectionValue(file.c_str(), "d", "k", value, sizeof value), 0);
  EXPECT_STREQ(value, "same");
  // Copies that disagree, a missing section or key, a value that does not
  // fit and a missing file have no value.
  EXPECT_LT(OLIBCFileGetSectionValue(file.c_str(), "c", "k", value, sizeof value), 0);
  EXPECT_LT(OLIBCFileGetSectionValue(file.c_str(), "x", "k", value, sizeof value), 0);
  EXPECT_LT(OLIBCFileGetSectionValue(file.c_str(), "a", "x", value, sizeof value), 0);
  EXPECT_LT(OLIBCFileGetSectionValue(file.c_str(), "a", "dst.ports", value, 5), 0);
  EXPECT_LT(OLIBCFileGetSectionValue("/etc/none.ini", "a", "dst.ports", value, sizeof value), 0);
}

}  // namespace
