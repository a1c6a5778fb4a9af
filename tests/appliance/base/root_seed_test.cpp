// Seeding a fresh root, and leaving a used one alone.
#include "appliance/base/root_seed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_root.h"

namespace {

constexpr const char* kConf = "/var/packages/Tessaro/target/etc/calendar_server_json.conf";
constexpr const char* kServices = "/usr/local/etc/services.d/Tessaro.sc";
constexpr const char* kTool = "/var/packages/Tessaro/target/tools/orva_calendar_conf_dump.py";
constexpr const char* kScript = "/var/packages/Tessaro/target/tools/calendarserver_start_stop.sh";

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(RootSeedTest, SeedsAFreshRoot) {
  orva_test::TempRoot root(true);
  const Json::Value conf = orva_test::parseJson(orva_test::readFile(root.at(kConf)));
  const Json::Value& settings = conf["general_setting"];
  EXPECT_EQ(settings["HTTPPort"], 8008);
  EXPECT_EQ(settings["SSLPort"], 8443);
  EXPECT_EQ(settings["EnableSSL"], false);
  EXPECT_EQ(settings["RedirectHTTPToHTTPS"], false);
  EXPECT_TRUE(settings["realmName"].isString());
  const std::string services = orva_test::readFile(root.at(kServices));
  EXPECT_NE(services.find("[tessaro]"), std::string::npos);
  EXPECT_NE(services.find("[tessaro_ssl]"), std::string::npos);
  EXPECT_NE(services.find("dst.ports=\"8443/tcp\""), std::string::npos);
  EXPECT_EQ(modeOf(root.at(kTool)), 0755u);
  EXPECT_EQ(modeOf(root.at(kScript)), 0755u);
  EXPECT_EQ(orva_test::readFile(root.at(kTool)),
            orva_test::readFile(std::string(ORVA_PACKAGE_DIR) + "/orva_calendar_conf_dump.py"));
  struct stat st {};
  EXPECT_EQ(::stat(root.at("/var/log").c_str(), &st), 0);
}

TEST(RootSeedTest, LeavesWhatIsThereAloneAndRestoresWhatIsMissing) {
  orva_test::TempRoot root(true);
  ASSERT_TRUE(orva_test::writeFile(root.at(kConf), "mine"));
  ASSERT_EQ(::unlink(root.at(kScript).c_str()), 0);
  std::string error;
  ASSERT_TRUE(orva_root::seedRoot(root.path(), ORVA_PACKAGE_DIR, error)) << error;
  EXPECT_EQ(orva_test::readFile(root.at(kConf)), "mine");
  EXPECT_EQ(modeOf(root.at(kScript)), 0755u);
  // Nothing is missing: the package folder is not needed.
  EXPECT_TRUE(orva_root::seedRoot(root.path(), "/nonexistent", error));
}

TEST(RootSeedTest, FailsWithAReasonWhenThePackageFilesAreMissing) {
  orva_test::TempRoot root;
  std::string error;
  EXPECT_FALSE(orva_root::seedRoot(root.path(), "/nonexistent", error));
  EXPECT_NE(error.find("/nonexistent/"), std::string::npos) << error;
}

}  // namespace
