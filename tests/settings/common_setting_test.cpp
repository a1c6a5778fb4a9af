// "get" and "set" of the Common API against a real, seeded appliance root:
// every failure is injected into the root itself, and each test checks what
// the request left behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/support/handler_call.h"
#include "tests/support/package_paths.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::callHandler;
using orva_test::kConf;
using orva_test::kPlist;
using orva_test::kScript;
using orva_test::kServices;
using orva_test::kServicesDir;
using orva_test::kTool;
using orva_test::readFile;
using orva_test::writeFile;

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

Json::Value request(const Json::Value& ssl, const Json::Value& redirect, const Json::Value& http,
                    const Json::Value& https) {
  Json::Value params(Json::objectValue);
  params["EnableSSL"] = ssl;
  params["RedirectHTTPToHTTPS"] = redirect;
  params["HTTPPort"] = http;
  params["SSLPort"] = https;
  return params;
}

// Everything a "set" may change, to compare before and after.
struct Trace {
  std::string root;
  std::string conf, services, plist, firewallLog, serverLog, rules;
  bool operator==(const Trace& o) const {
    return conf == o.conf && services == o.services && plist == o.plist &&
           firewallLog == o.firewallLog && serverLog == o.serverLog && rules == o.rules;
  }
};

class CommonSettingTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root{true};

  std::string at(const std::string& path) const { return root.at(path); }
  ORVA::APIResponse set(const Json::Value& params) {
    return callHandler(&ContactAndCalendarHandler::setCommonSetting, params);
  }
  ORVA::APIResponse set(int http, int https, bool ssl = false, bool redirect = false) {
    return set(request(ssl, redirect, http, https));
  }
  ORVA::APIResponse get() {
    return callHandler(&ContactAndCalendarHandler::getCommonSetting, Json::Value());
  }
  Trace trace() const {
    return {root.path(),
            readFile(at(kConf)),
            readFile(at(kServices)),
            readFile(at(kPlist)),
            readFile(at("/var/log/firewall.log")),
            readFile(at("/var/log/server.log")),
            readFile(at("/var/lib/firewall/rules"))};
  }
  Json::Value storedSettings() const {
    return orva_test::parseJson(readFile(at(kConf)))["general_setting"];
  }
  std::string webapiLog() const { return readFile(at("/var/log/webapi.log")); }
  // A program in place of one of the package's, run by "set".
  void replaceProgram(const char* path, const std::string& body) {
    ASSERT_TRUE(writeFile(at(path), "#!/bin/sh\n" + body + "\n"));
    ASSERT_EQ(::chmod(at(path).c_str(), 0755), 0);
  }
  void expectError(const ORVA::APIResponse& response, int code, const char* message) {
    ASSERT_TRUE(response.IsAnswered());
    EXPECT_FALSE(response.IsSuccess());
    EXPECT_EQ(response.ErrorCode(), code);
    EXPECT_EQ(response.ErrorDetail(), Json::Value(message));
    EXPECT_NE(webapiLog().find(std::string("level=1 ") + message), std::string::npos)
        << webapiLog();
    EXPECT_EQ(response.AnswerCount(), 1);
  }
};

// The server log's lines of starts, stops and restarts: a restart also notes
// the certificate it makes and the servers of other roots (other tests,
// deleted meanwhile) that it stops.
std::vector<std::string> ownServerLines(const std::string& path) {
  std::vector<std::string> own;
  for (const std::string& line : orva_test::readLines(path)) {
    if (line.find("a server whose run folder") == std::string::npos &&
        line.find("certificate") == std::string::npos) {
      own.push_back(line);
    }
  }
  return own;
}

std::string section(const std::string& text, const std::string& name) {
  const size_t start = text.find("[" + name + "]");
  if (start == std::string::npos) return "";
  const size_t end = text.find("\n[", start + 1);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// --- get -------------------------------------------------------------------

TEST_F(CommonSettingTest, GetAnswersTheStoredSettingsWithoutTheRealmName) {
  const ORVA::APIResponse response = get();
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  const Json::Value common = response.Data()["common"];
  EXPECT_FALSE(common.isMember("realmName"));
  EXPECT_EQ(common["HTTPPort"], 8008);
  EXPECT_EQ(common["SSLPort"], 8443);
  EXPECT_EQ(common["EnableSSL"], false);
  EXPECT_EQ(common["RedirectHTTPToHTTPS"], false);
  EXPECT_TRUE(storedSettings().isMember("realmName"));  // only hidden, not removed

  // Members the module does not know are passed through.
  ASSERT_TRUE(writeFile(at(kConf), R"({"general_setting":{"realmName":"r","Extra":[1]}})"));
  EXPECT_EQ(orva_test::toJson(get().Data()), R"({"common":{"Extra":[1]}})");
}

TEST_F(CommonSettingTest, GetOfAnUnreadableConfigurationAnswers1000) {
  for (const std::string broken : {"{\"general_setting\":", "[1,2]", "", "{} trailing"}) {
    ASSERT_TRUE(writeFile(at(kConf), broken));
    expectError(get(), 1000, "Json conf parse error");
  }
  ASSERT_EQ(::unlink(at(kConf).c_str()), 0);
  expectError(get(), 1000, "Json conf parse error");
}

// --- set: accepted requests -------------------------------------------------

TEST_F(CommonSettingTest, SetAppliesNewPortsEverywhere) {
  const ORVA::APIResponse response = set(9008, 9443, true, true);
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope()) << webapiLog();

  // The answer is the configuration as read back: the four members with
  // their JSON types, and the server's realm name kept beside them.
  const Json::Value stored = storedSettings();
  EXPECT_EQ(response.Data()["common"], stored);
  EXPECT_EQ(stored.size(), 5u);
  EXPECT_TRUE(stored["realmName"].isString());
  EXPECT_TRUE(stored["EnableSSL"].isBool() && stored["EnableSSL"].asBool());
  EXPECT_TRUE(stored["RedirectHTTPToHTTPS"].isBool() && stored["RedirectHTTPToHTTPS"].asBool());
  EXPECT_TRUE(stored["HTTPPort"].isInt());
  EXPECT_EQ(stored["HTTPPort"], 9008);
  EXPECT_EQ(stored["SSLPort"], 9443);

  // One port per section, as digits and "/tcp"; the rest of the file kept.
  const std::string services = readFile(at(kServices));
  EXPECT_NE(section(services, "tessaro").find("dst.ports=\"9008/tcp\"\n"), std::string::npos);
  EXPECT_NE(section(services, "tessaro_ssl").find("dst.ports=\"9443/tcp\"\n"), std::string::npos);
  EXPECT_NE(services.find("title=\"Calendar and contacts server (HTTPS)\""), std::string::npos);

  const std::string firewall = readFile(at("/var/log/firewall.log"));
  EXPECT_EQ(orva_test::readLines(at("/var/log/firewall.log")).size(), 1u);
  EXPECT_NE(firewall.find("9008/tcp,9443/tcp"), std::string::npos) << firewall;

  const std::string plist = readFile(at(kPlist));
  EXPECT_NE(plist.find("<key>HTTPPort</key>\n\t<integer>9008</integer>"), std::string::npos);
  EXPECT_NE(plist.find("<key>EnableSSL</key>\n\t<true/>"), std::string::npos) << plist;

  const auto serverLog = ownServerLines(at("/var/log/server.log"));
  ASSERT_EQ(serverLog.size(), 1u) << serverLog.back();
  EXPECT_NE(serverLog[0].find("restart: started"), std::string::npos);
  EXPECT_NE(serverLog[0].find("HTTP 9008, HTTPS 9443, SSL on, redirect on"), std::string::npos);

  // "get" now shows the same four members, the realm name hidden.
  Json::Value shown = stored;
  shown.removeMember("realmName");
  EXPECT_EQ(get().Data()["common"], shown);
}

TEST_F(CommonSettingTest, SetWithTheStoredPortsStillSavesConvertsAndRestarts) {
  const Trace before = trace();
  ASSERT_TRUE(set(8008, 8443, true, false).IsSuccess()) << webapiLog();
  EXPECT_EQ(readFile(at(kServices)), before.services);
  EXPECT_FALSE(exists(at("/var/log/firewall.log")));
  EXPECT_EQ(storedSettings()["EnableSSL"], true);
  EXPECT_NE(readFile(at(kPlist)).find("<key>EnableSSL</key>\n\t<true/>"), std::string::npos);
  EXPECT_EQ(ownServerLines(at("/var/log/server.log")).size(), 1u);

  // And the same again: a second restart, still no firewall reload.
  ASSERT_TRUE(set(8008, 8443, true, false).IsSuccess());
  EXPECT_EQ(ownServerLines(at("/var/log/server.log")).size(), 2u);
  EXPECT_FALSE(exists(at("/var/log/firewall.log")));
}

TEST_F(CommonSettingTest, SetOfTheHttpsPortOnlyWritesItsSectionAndReloads) {
  const std::string before = readFile(at(kServices));
  ASSERT_TRUE(set(8008, 9443).IsSuccess()) << webapiLog();
  const std::string after = readFile(at(kServices));
  EXPECT_EQ(section(after, "tessaro"), section(before, "tessaro"));
  EXPECT_NE(section(after, "tessaro_ssl").find("dst.ports=\"9443/tcp\""), std::string::npos);
  EXPECT_EQ(orva_test::readLines(at("/var/log/firewall.log")).size(), 1u);
}

TEST_F(CommonSettingTest, SetWithNoStoredPortsWritesBothSectionsAndReloads) {
  ASSERT_TRUE(writeFile(at(kConf), R"({"general_setting":{"realmName":"r"}})"));
  ASSERT_TRUE(writeFile(at(kServices), "[other]\nkey=1\n"));
  ASSERT_TRUE(set(8008, 8443).IsSuccess()) << webapiLog();
  EXPECT_EQ(readFile(at(kServices)),
            "[other]\nkey=1\n\n[tessaro]\ndst.ports=\"8008/tcp\"\n\n[tessaro_ssl]\n"
            "dst.ports=\"8443/tcp\"\n");
  EXPECT_NE(readFile(at("/var/log/firewall.log")).find("8008/tcp,8443/tcp"), std::string::npos);
}

TEST_F(CommonSettingTest, SetConvertsParametersAsJsonDoes) {
  // Numbers and null are convertible to flags; a port given as a whole
  // real number is stored as its integer, and the services file gets that
  // integer's digits.
  ASSERT_TRUE(set(request(1, Json::Value(), 9008.0, 9443.0)).IsSuccess()) << webapiLog();
  const Json::Value stored = storedSettings();
  EXPECT_EQ(stored["EnableSSL"], true);
  EXPECT_EQ(stored["RedirectHTTPToHTTPS"], false);
  EXPECT_TRUE(stored["SSLPort"].isInt());
  EXPECT_EQ(stored["SSLPort"], 9443);
  EXPECT_NE(readFile(at(kServices)).find("dst.ports=\"9443/tcp\""), std::string::npos);
}

// --- set: refused before anything is read or written -------------------------

TEST_F(CommonSettingTest, AMissingParameterAnswers900WithoutReadingTheConfiguration) {
  ASSERT_TRUE(writeFile(at(kConf), "broken"));  // would be 1000 if it were read
  const Trace before = trace();
  for (const char* missing : {"EnableSSL", "RedirectHTTPToHTTPS", "HTTPPort", "SSLPort"}) {
    Json::Value params = request(true, true, 9008, 9443);
    params.removeMember(missing);
    expectError(set(params), 900, "Request lost parameters");
  }
  EXPECT_EQ(webapiLog().find("Json conf parse error"), std::string::npos);
  EXPECT_TRUE(trace() == before);
}

TEST_F(CommonSettingTest, AParameterOfTheWrongTypeAnswers901BeforeAnythingIsWritten) {
  const Trace before = trace();
  const Json::Value array(Json::arrayValue), object(Json::objectValue);
  struct Case {
    Json::Value params;
    const char* log;
  } cases[] = {
      {request("true", true, 9008, 9443), "check type of EnableSSL(bool)"},
      {request(true, array, 9008, 9443), "check type of RedirectHTTPToHTTPS(bool)"},
      {request(true, object, 9008, 9443), "check type of RedirectHTTPToHTTPS(bool)"},
      {request(true, true, "9008", 9443), "check type of HTTPPort(int)"},
      {request(true, true, 9008, array), "check type of SSLPort(int)"},
      {request(true, true, 4294967296.0, 9443), "check type of HTTPPort(int)"},
      {request(true, true, 9008, Json::Value(Json::UInt64(1) << 40)), "check type of SSLPort(int)"},
      // Not taken as 1, 0 or a truncated number.
      {request(true, true, true, 9443), "check type of HTTPPort(int)"},
      {request(true, true, 9008, false), "check type of SSLPort(int)"},
      {request(true, true, 9008, 9443.9), "check type of SSLPort(int)"},
      {request(true, true, Json::Value(), 9443), "check type of HTTPPort(int)"},
  };
  for (const Case& c : cases) {
    const ORVA::APIResponse response = set(c.params);
    EXPECT_EQ(response.ErrorCode(), 901) << c.log;
    EXPECT_EQ(response.ErrorDetail(), Json::Value("Incorrect parameter: Need "));
    EXPECT_NE(webapiLog().find(std::string("level=1 ") + c.log), std::string::npos) << c.log;
  }
  EXPECT_TRUE(trace() == before);
}

TEST_F(CommonSettingTest, PortsTheServerCannotUseAreConflicts) {
  const Trace before = trace();
  expectError(set(0, 8443), 1002, "HTTP port conflict");
  expectError(set(65536, 8443), 1002, "HTTP port conflict");
  expectError(set(-8008, 8443), 1002, "HTTP port conflict");
  expectError(set(80, 8443), 1002, "HTTP port conflict");  // reserved by the appliance
  expectError(set(8008, 0), 1003, "HTTPS port conflict");
  expectError(set(8008, 70000), 1003, "HTTPS port conflict");
  expectError(set(8008, 8008), 1003, "HTTPS port conflict");
  expectError(set(8008, 443), 1003, "HTTPS port conflict");
  EXPECT_TRUE(trace() == before);
}

TEST_F(CommonSettingTest, WhenBothPortsConflictOnlyTheHttpTestAnswers) {
  expectError(set(22, 80), 1002, "HTTP port conflict");
  EXPECT_EQ(webapiLog().find("HTTPS port conflict"), std::string::npos);
}

TEST_F(CommonSettingTest, APortHeldByAnotherServiceIsAConflict) {
  ASSERT_TRUE(writeFile(at(std::string(kServicesDir) + "/Media.sc"),
                        "[media]\ndst.ports=\"9000,9100:9200/tcp\"\n"));
  const Trace before = trace();
  expectError(set(9150, 9443), 1002, "HTTP port conflict");
  expectError(set(9008, 9000), 1003, "HTTPS port conflict");
  EXPECT_TRUE(trace() == before);
  EXPECT_TRUE(set(9201, 9099).IsSuccess()) << webapiLog();
}

// --- set: the failure table, each fault injected into the root -----------------

TEST_F(CommonSettingTest, ABrokenConfigurationAnswers1000AndChangesNothing) {
  ASSERT_TRUE(writeFile(at(kConf), "{\"general_setting\": {\"HTTPPort\": 8008,"));
  const Trace before = trace();
  expectError(set(9008, 9443), 1000, "Json conf parse error");
  EXPECT_TRUE(trace() == before);
}

TEST_F(CommonSettingTest, AServicesFileThatCannotBeWrittenAnswers1004) {
  // A folder where the services file should be: neither read nor replaced.
  ASSERT_EQ(::unlink(at(kServices).c_str()), 0);
  ASSERT_EQ(::mkdir(at(kServices).c_str(), 0755), 0);
  const Trace before = trace();
  expectError(set(9008, 8443), 1004, "Update port file failed");
  EXPECT_TRUE(trace() == before);
  EXPECT_FALSE(exists(at(kPlist)));
}

TEST_F(CommonSettingTest, AFailedWriteOfTheHttpsSectionPutsTheHttpSectionBack) {
  // A file-size limit just above what the first write needs: the HTTP section
  // is written, the HTTPS one (one more digit) no longer fits.
  const Trace before = trace();
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = old;
  limit.rlim_cur = before.services.size() + 1;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const ORVA::APIResponse response = set(18008, 18443);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  expectError(response, 1004, "Update port file failed");
  EXPECT_TRUE(trace() == before);
  EXPECT_FALSE(exists(at(kPlist)));
}

TEST_F(CommonSettingTest, AServiceDefinitionThatCannotBeParsedAnswers1005AndChangesNothing) {
  ASSERT_TRUE(writeFile(at(std::string(kServicesDir) + "/Broken.sc"),
                        "[broken]\nthis line is neither a section nor a key\n"));
  const Trace before = trace();
  expectError(set(9008, 9443), 1005, "Fail to hup firewall rules");
  EXPECT_TRUE(trace() == before);
  EXPECT_FALSE(exists(at("/var/lib/firewall/rules")));
  EXPECT_FALSE(exists(at(kPlist)));
}

TEST_F(CommonSettingTest, AFifoAmongTheServiceDefinitionsIsRefusedWithoutWaiting) {
  // Nobody ever writes to it: reading it would wait for ever, holding the
  // settings lock.
  ASSERT_EQ(::mkfifo(at(std::string(kServicesDir) + "/Pipe.sc").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(at("/var/log/webapi.log").c_str(), 0644), 0);
  const Trace before = trace();
  const ORVA::APIResponse response = set(9008, 9443);
  EXPECT_EQ(response.ErrorCode(), 1005);
  EXPECT_TRUE(trace() == before);
}

// What a failed "set" that had reloaded the firewall leaves: everything as
// before, the firewall reloaded once more with the old ports.
void expectPutBack(const Trace& before, const Trace& after) {
  EXPECT_EQ(after.services, before.services);
  EXPECT_EQ(orva_test::parseJson(after.conf), orva_test::parseJson(before.conf)) << after.conf;
  const std::vector<std::string> reloads =
      orva_test::readLines(before.root + "/var/log/firewall.log");
  ASSERT_FALSE(reloads.empty());
  EXPECT_NE(reloads.back().find("8008/tcp"), std::string::npos) << reloads.back();
  EXPECT_EQ(reloads.back().find("9008/tcp"), std::string::npos) << reloads.back();
  EXPECT_EQ(after.rules.find("9008"), std::string::npos) << after.rules;
  EXPECT_NE(after.rules.find("allow tcp 8008 # Tessaro.sc [tessaro]"), std::string::npos)
      << after.rules;
}

TEST_F(CommonSettingTest, AConfigurationThatCannotBeReplacedAnswers1001AndChangesNothing) {
  // The configuration is readable through a link, but the manager does not
  // replace a link by a file.
  const std::string real = at("/var/packages/Tessaro/target/etc/real.conf");
  ASSERT_EQ(::rename(at(kConf).c_str(), real.c_str()), 0);
  ASSERT_EQ(::symlink(real.c_str(), at(kConf).c_str()), 0);
  const Trace before = trace();
  expectError(set(9008, 9443), 1001, "Json conf dump error");
  expectPutBack(before, trace());
  EXPECT_FALSE(exists(at(kPlist)));
  EXPECT_FALSE(exists(at("/var/log/server.log")));
}

TEST_F(CommonSettingTest, AFailingConversionToolAnswers1006AndChangesNothing) {
  const Trace before = trace();
  replaceProgram(kTool, "exit 1");
  expectError(set(9008, 9443, true), 1006, "Fail to dump json conf into xml conf");
  expectPutBack(before, trace());
  EXPECT_EQ(storedSettings()["EnableSSL"], false);
  EXPECT_FALSE(exists(at(kPlist)));
  EXPECT_FALSE(exists(at("/var/log/server.log")));
}

TEST_F(CommonSettingTest, AConversionThatCannotWriteThePropertyListAnswers1006) {
  ASSERT_EQ(::mkdir(at(kPlist).c_str(), 0755), 0);  // the real tool cannot replace a folder
  const Trace before = trace();
  expectError(set(9008, 9443), 1006, "Fail to dump json conf into xml conf");
  expectPutBack(before, trace());
  EXPECT_FALSE(exists(at("/var/log/server.log")));
}

TEST_F(CommonSettingTest, AFailingStartStopScriptAnswers1007AndPutsEverythingBack) {
  const Trace before = trace();
  replaceProgram(kScript, "exit 1");
  expectError(set(9008, 9443, true), 1007, "Fail to restart calendar server");
  expectPutBack(before, trace());
  // The property list is made again from the old settings.
  EXPECT_EQ(storedSettings()["EnableSSL"], false);
  EXPECT_NE(readFile(at(kPlist)).find("<integer>8008</integer>"), std::string::npos);
  EXPECT_EQ(readFile(at(kPlist)).find("<integer>9008</integer>"), std::string::npos);
  EXPECT_FALSE(exists(at("/var/log/server.log")));

  ASSERT_EQ(::unlink(at(kScript).c_str()), 0);  // a script that is not there at all
  expectError(set(9008, 9443), 1007, "Fail to restart calendar server");
  EXPECT_EQ(storedSettings()["HTTPPort"], 8008);
}

TEST_F(CommonSettingTest, The1007DetailNamesTheScriptsReasonOfThisRun) {
  const std::string runDir = at("/var/run/calendarserver");
  ASSERT_EQ(::mkdir(at("/var/run").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(runDir.c_str(), 0755), 0);
  // A reason left by an earlier run is not this run's.
  ASSERT_TRUE(writeFile(runDir + "/last_failure", "[failure]\nreason=an old reason\n"));
  replaceProgram(kScript, "exit 1");
  expectError(set(9008, 9443), 1007, "Fail to restart calendar server");

  replaceProgram(kScript,
                 "printf '[failure]\\nreason=port 9008 is in use by another program (nc, pid "
                 "77)\\n' > \"$ORVA_ROOT/var/run/calendarserver/last_failure\"; exit 1");
  const ORVA::APIResponse response = set(9008, 9443);
  EXPECT_EQ(response.ErrorCode(), 1007);
  EXPECT_EQ(response.ErrorDetail(),
            Json::Value("Fail to restart calendar server: port 9008 is in use by another program "
                        "(nc, pid 77)"));
  EXPECT_EQ(storedSettings()["HTTPPort"], 8008);
}

TEST_F(CommonSettingTest, AConfigurationBrokenDuringTheRestartAnswers1000AfterApplying) {
  // The restart runs with ORVA_ROOT set, finds the configuration under it and
  // spoils it, so only the read-back fails.
  replaceProgram(kScript, std::string("echo broken > \"$ORVA_ROOT") + kConf +
                              "\" && echo restarted >> \"$ORVA_ROOT/var/log/server.log\"");
  expectError(set(9008, 9443), 1000, "Json conf parse error");
  EXPECT_EQ(readFile(at(kConf)), "broken\n");
  EXPECT_NE(readFile(at(kServices)).find("dst.ports=\"9443/tcp\""), std::string::npos);
  EXPECT_NE(readFile(at(kPlist)).find("<integer>9443</integer>"), std::string::npos);
  EXPECT_EQ(readFile(at("/var/log/server.log")), "restarted\n");
}

}  // namespace

namespace {

// --- set: realm names that the server cannot send ---------------------------

class RealmNameTest : public CommonSettingTest,
                      public ::testing::WithParamInterface<std::pair<const char*, std::string>> {};

TEST_P(RealmNameTest, IsRefusedByTheScriptAndNamedInThe1007) {
  Json::Value conf = orva_test::parseJson(readFile(at(kConf)));
  conf["general_setting"]["realmName"] = GetParam().second;
  ASSERT_TRUE(writeFile(at(kConf), orva_test::toJson(conf)));
  const Trace before = trace();
  const ORVA::APIResponse response = set(9008, 9443);
  EXPECT_EQ(response.ErrorCode(), 1007);
  const std::string detail = response.ErrorDetail().asString();
  EXPECT_EQ(detail.rfind("Fail to restart calendar server: the realm name ", 0), 0u) << detail;
  EXPECT_NE(detail.find("1 to 200 printable Latin-1 characters"), std::string::npos) << detail;
  const std::vector<std::string> log = orva_test::readLines(at("/var/log/server.log"));
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("restart failed: the realm name "), std::string::npos) << log.back();
  EXPECT_EQ(orva_test::parseJson(readFile(at(kConf))), conf);
  EXPECT_EQ(readFile(at(kServices)), before.services);
}

INSTANTIATE_TEST_SUITE_P(
    BeyondLatin1OrTooLong, RealmNameTest,
    ::testing::Values(std::make_pair("snowman", std::string("Home \xe2\x98\x83")),
                      std::make_pair("line_separator", std::string("a\xe2\x80\xa8z")),
                      std::make_pair("control", std::string("a\tb")),
                      std::make_pair("quote", std::string("say \"hi\"")),
                      std::make_pair("blank", std::string("   ")),
                      std::make_pair("chars_201", std::string(201, 'r')),
                      std::make_pair("chars_20000", std::string(20000, 'r'))),
    [](const auto& info) { return std::string(info.param.first); });

TEST_F(CommonSettingTest, RealmNamesOfPrintableLatin1UpTo200CharactersAreTaken) {
  for (const std::string& realm :
       {std::string("B\xc3\xbcro Kalender \xc2\xa9 100% #1"), std::string(200, 'r')}) {
    Json::Value conf = orva_test::parseJson(readFile(at(kConf)));
    conf["general_setting"]["realmName"] = realm;
    ASSERT_TRUE(writeFile(at(kConf), orva_test::toJson(conf)));
    const ORVA::APIResponse response = set(9008, 9443);
    EXPECT_TRUE(response.IsSuccess()) << response.ErrorDetail().asString();
    EXPECT_EQ(response.Data()["common"]["realmName"], realm);
  }
}

}  // namespace
