// The package's two programs run on their own: the conversion tool (JSON
// configuration to property list) and the start/stop script.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "appliance/base/appliance_root.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::readFile;
using orva_test::writeFile;

const std::string kTool = std::string(ORVA_PACKAGE_DIR) + "/orva_calendar_conf_dump.py";
const std::string kScript = std::string(ORVA_PACKAGE_DIR) + "/calendarserver_start_stop.sh";
constexpr const char* kPlist = "/var/packages/Tessaro/target/etc/orva_caldavd.plist";

// Runs a shell command line; its exit status, or -1 when it did not exit.
int run(const std::string& command) {
  const int status = std::system((command + " 2>/dev/null >/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

class ConfDumpTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root;
  std::string json = root.at("/in.json");
  std::string plist = root.at("/out.plist");
  int dump() { return run("env -u ORVA_ROOT python3 " + kTool + " --dump " + json + " " + plist); }
};

TEST_F(ConfDumpTest, WritesThePropertyList) {
  ASSERT_TRUE(writeFile(json, R"({"other":1,"general_setting":{"EnableSSL":true,
      "RedirectHTTPToHTTPS":false,"HTTPPort":9008,"SSLPort":9443,"realmName":"Home & Co"}})"));
  ASSERT_EQ(dump(), 0);
  EXPECT_EQ(readFile(plist),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n<dict>\n"
            "\t<key>EnableSSL</key>\n\t<true/>\n"
            "\t<key>HTTPPort</key>\n\t<integer>9008</integer>\n"
            "\t<key>RealmName</key>\n\t<string>Home &amp; Co</string>\n"
            "\t<key>RedirectHTTPToHTTPS</key>\n\t<false/>\n"
            "\t<key>SSLPort</key>\n\t<integer>9443</integer>\n"
            "</dict>\n</plist>\n");
}

TEST_F(ConfDumpTest, GivesTheRealmADefaultWhenTheConfigurationHasNone) {
  ASSERT_TRUE(writeFile(json, R"({"general_setting":{"EnableSSL":false,
      "RedirectHTTPToHTTPS":false,"HTTPPort":8008,"SSLPort":8443}})"));
  ASSERT_EQ(dump(), 0);
  EXPECT_NE(readFile(plist).find("<string>Tessaro Calendar Server</string>"), std::string::npos);
}

TEST_F(ConfDumpTest, FailsOnMissingOrBrokenInputAndKeepsTheOldPropertyList) {
  ASSERT_TRUE(writeFile(plist, "old"));
  EXPECT_NE(dump(), 0);  // no input file
  const char* broken[] = {
      "{\"general_setting\":",
      "[]",
      "{\"x\":1}",
      R"({"general_setting":{"EnableSSL":false,"RedirectHTTPToHTTPS":false,"HTTPPort":"8008","SSLPort":8443}})",
      R"({"general_setting":{"EnableSSL":false,"RedirectHTTPToHTTPS":false,"HTTPPort":true,"SSLPort":8443}})",
      R"({"general_setting":{"EnableSSL":false,"RedirectHTTPToHTTPS":false,"HTTPPort":8008,"SSLPort":70000}})",
      R"({"general_setting":{"EnableSSL":1,"RedirectHTTPToHTTPS":false,"HTTPPort":8008,"SSLPort":8443}})",
      R"({"general_setting":{"EnableSSL":false,"HTTPPort":8008,"SSLPort":8443}})",
      "\xff\xfe",
  };
  for (const char* text : broken) {
    ASSERT_TRUE(writeFile(json, text));
    EXPECT_EQ(dump(), 1) << text;
  }
  EXPECT_EQ(readFile(plist), "old");
}

TEST_F(ConfDumpTest, ResolvesAppliancePathsUnderTheRootAndExplainsItsUse) {
  orva_test::TempRoot seeded(true);
  ASSERT_EQ(run("ORVA_ROOT=" + seeded.path() + " python3 " + kTool +
                " --dump /var/packages/Tessaro/target/etc/calendar_server_json.conf " + kPlist),
            0);
  EXPECT_NE(readFile(seeded.at(kPlist)).find("<integer>8443</integer>"), std::string::npos);
  EXPECT_EQ(run("python3 " + kTool + " --help"), 0);
  EXPECT_NE(run("python3 " + kTool), 0);
  EXPECT_NE(run("python3 " + kTool + " --dump only-one"), 0);
}

// The script's checks and records without the server's processes; the
// processes themselves are tested in tests/appliance/server.
class StartStopTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root{true};
  void SetUp() override { ::setenv("ORVA_SERVER_PROCESSES", "off", 1); }
  int script(const std::string& action) {
    return run("ORVA_ROOT=" + root.path() + " " + kScript + " " + action);
  }
  std::vector<std::string> log() const {
    return orva_test::readLines(root.at("/var/log/server.log"));
  }
  void makePlist() {
    ASSERT_EQ(run("ORVA_ROOT=" + root.path() + " python3 " + kTool +
                  " --dump /var/packages/Tessaro/target/etc/calendar_server_json.conf " + kPlist),
              0);
  }
};

TEST_F(StartStopTest, WithoutProcessesStartsStopsAndRestartsWithOneLogLineEach) {
  makePlist();
  EXPECT_EQ(script("status"), 3);
  ASSERT_EQ(script("start"), 0);
  EXPECT_EQ(script("status"), 0);
  ASSERT_EQ(script("restart"), 0);
  ASSERT_EQ(script("stop"), 0);
  EXPECT_EQ(script("status"), 3);
  const auto lines = log();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("start: started without processes (ORVA_SERVER_PROCESSES=off); "
                          "HTTP 8008, HTTPS 8443, SSL off, redirect off"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("restart: started without processes"), std::string::npos);
  EXPECT_NE(lines[2].find("stop: "), std::string::npos);
}

TEST_F(StartStopTest, FailsWithoutAReadablePropertyList) {
  EXPECT_EQ(script("restart"), 1);  // not converted yet
  ASSERT_TRUE(writeFile(root.at(kPlist), "<plist>cut off"));
  EXPECT_EQ(script("start"), 1);
  EXPECT_EQ(script("status"), 3);
  const auto lines = log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("restart failed: cannot read the property list"), std::string::npos);
  EXPECT_NE(lines[1].find("start failed"), std::string::npos);
  EXPECT_EQ(script("stop"), 0);  // stopping needs no configuration
}

TEST_F(StartStopTest, ExplainsItsUse) {
  EXPECT_EQ(script("--help"), 0);
  EXPECT_EQ(script(""), 2);
  EXPECT_EQ(script("reload"), 2);
  EXPECT_FALSE(exists(root.at("/var/log/server.log")));
}

// The whole road through the host's command line, as a user runs it.
TEST(HostCommonTest, SetAndGetThroughTheHost) {
  ::setenv("ORVA_SERVER_PROCESSES", "off", 1);
  const std::string host = std::string(ORVA_BIN_DIR) + "/orva-webapi";
  if (!exists(host)) GTEST_SKIP() << "orva-webapi is not built";
  orva_test::TempRoot root;  // the host seeds it
  const std::string call =
      host + " --root " + root.path() + " call ORVA.ContactAndCalendar.Common ";
  const std::string out = root.at("/answer.json");
  ASSERT_EQ(std::system((call +
                         "set EnableSSL:=true RedirectHTTPToHTTPS:=false HTTPPort:=9008 "
                         "SSLPort:=9443 >" +
                         out + " 2>/dev/null")
                            .c_str()),
            0);
  const Json::Value answer = orva_test::parseJson(readFile(out));
  EXPECT_EQ(answer["success"], true) << readFile(out);
  EXPECT_EQ(answer["data"]["common"]["SSLPort"], 9443);
  EXPECT_EQ(orva_test::readLines(root.at("/var/log/server.log")).size(), 1u);

  EXPECT_NE(std::system((call +
                         "set EnableSSL:=true RedirectHTTPToHTTPS:=false HTTPPort:=22 "
                         "SSLPort:=9443 >" +
                         out + " 2>/dev/null")
                            .c_str()),
            0);
  EXPECT_EQ(orva_test::toJson(orva_test::parseJson(readFile(out))),
            R"({"error":{"code":1002,"detail":"HTTP port conflict"},"success":false})");
}

}  // namespace
