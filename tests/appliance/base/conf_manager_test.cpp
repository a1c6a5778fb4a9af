// ConfManager over the configuration file under the appliance root.
#include "platform/conf_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_root.h"

namespace {

constexpr const char* kConf = "/var/packages/Tessaro/target/etc/calendar_server_json.conf";

class ConfManagerTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root{true};
  std::string path() const { return root.at(kConf); }
};

TEST_F(ConfManagerTest, ParsesTheSeededConfiguration) {
  ConfManager manager;
  ASSERT_TRUE(manager.JsonConfParse());
  EXPECT_EQ(manager.JsonGet("general_setting")["HTTPPort"], 8008);
  EXPECT_TRUE(manager.JsonGet("absent").isNull());
}

TEST_F(ConfManagerTest, RefusesWhatIsNotAJsonObject) {
  for (const char* text : {"", "[]", "\"text\"", "{\"a\":1", "{} {}", "{\"a\":1,\"a\":2}"}) {
    ASSERT_TRUE(orva_test::writeFile(path(), text));
    ConfManager manager;
    EXPECT_FALSE(manager.JsonConfParse()) << text;
  }
  ASSERT_EQ(::unlink(path().c_str()), 0);
  ConfManager missing;
  EXPECT_FALSE(missing.JsonConfParse());
  ASSERT_EQ(::mkdir(path().c_str(), 0755), 0);
  ConfManager folder;
  EXPECT_FALSE(folder.JsonConfParse());
}

TEST_F(ConfManagerTest, SetMergesObjectsAndDumpWritesItBack) {
  ASSERT_TRUE(
      orva_test::writeFile(path(), R"({"keep":[1,2],"general_setting":{"realmName":"r"}})"));
  ASSERT_EQ(::chmod(path().c_str(), 0640), 0);
  ConfManager manager;
  ASSERT_TRUE(manager.JsonConfParse());
  Json::Value settings(Json::objectValue);
  settings["HTTPPort"] = 9008;
  manager.JsonSet(settings, "general_setting");
  ASSERT_TRUE(manager.JsonConfDump());

  const Json::Value stored = orva_test::parseJson(orva_test::readFile(path()));
  EXPECT_EQ(orva_test::toJson(stored),
            R"({"general_setting":{"HTTPPort":9008,"realmName":"r"},"keep":[1,2]})");

  manager.JsonSet(Json::Value(7), "keep");  // not an object: replaced whole
  manager.JsonSet(Json::Value(Json::objectValue), "fresh");
  EXPECT_EQ(manager.JsonGet("keep"), 7);
  EXPECT_TRUE(manager.JsonGet("fresh").isObject());
  struct stat st {};
  ASSERT_EQ(::stat(path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ConfManagerTest, DumpFailsWithoutTouchingWhatItCannotReplace) {
  ConfManager manager;
  ASSERT_TRUE(manager.JsonConfParse());
  const std::string real = root.at("/real.conf");
  ASSERT_EQ(::rename(path().c_str(), real.c_str()), 0);
  ASSERT_EQ(::symlink(real.c_str(), path().c_str()), 0);
  const std::string before = orva_test::readFile(real);
  EXPECT_FALSE(manager.JsonConfDump());
  EXPECT_EQ(orva_test::readFile(real), before);

  ASSERT_EQ(::unlink(path().c_str()), 0);
  std::filesystem::remove_all(root.at("/var/packages/Tessaro/target/etc"));
  EXPECT_FALSE(manager.JsonConfDump());  // its folder is gone
}

}  // namespace
