// "set" when requests overlap, when the services file disagrees with the
// configuration, and when a program it runs hangs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/handler_call.h"
#include "tests/support/package_paths.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::kConf;
using orva_test::kPlist;
using orva_test::kScript;
using orva_test::kServices;
using orva_test::kServicesDir;
using orva_test::kTool;
using orva_test::readFile;
using orva_test::writeFile;

ORVA::APIResponse set(int http, int https) {
  Json::Value params(Json::objectValue);
  params["EnableSSL"] = false;
  params["RedirectHTTPToHTTPS"] = false;
  params["HTTPPort"] = http;
  params["SSLPort"] = https;
  return orva_test::callHandler(&ContactAndCalendarHandler::setCommonSetting, params);
}

// The port a services-file section holds, "" when none.
std::string servicesPort(const std::string& text, const std::string& name) {
  const size_t start = text.find("[" + name + "]");
  if (start == std::string::npos) return "";
  const size_t key = text.find("dst.ports=\"", start);
  const size_t next = text.find("\n[", start + 1);
  if (key == std::string::npos || (next != std::string::npos && key > next)) return "";
  return text.substr(key + 11, text.find('/', key) - key - 11);
}

class SetUnderStressTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root{true};

  std::string at(const std::string& path) const { return root.at(path); }
  void replaceProgram(const char* path, const std::string& body) {
    ASSERT_TRUE(writeFile(at(path), "#!/bin/sh\n" + body + "\n"));
    ASSERT_EQ(::chmod(at(path).c_str(), 0755), 0);
  }
  // What the configuration, the services file and the property list say.
  void expectOneRequestEverywhere() {
    const Json::Value stored = orva_test::parseJson(readFile(at(kConf)))["general_setting"];
    const std::string http = stored["HTTPPort"].asString();
    const std::string https = stored["SSLPort"].asString();
    const std::string services = readFile(at(kServices));
    EXPECT_EQ(servicesPort(services, "tessaro"), http) << services;
    EXPECT_EQ(servicesPort(services, "tessaro_ssl"), https) << services;
    // The stand-in conversion tool copies the configuration as it found it.
    const std::string plist = readFile(at(kPlist));
    const Json::Value converted = orva_test::parseJson(plist)["general_setting"];
    EXPECT_EQ(converted["HTTPPort"].asString(), http) << plist;
    EXPECT_EQ(converted["SSLPort"].asString(), https) << plist;
    // Each request's pair: HTTPS is always HTTP + 1000.
    EXPECT_EQ(std::stoi(https), std::stoi(http) + 1000);
  }
};

TEST_F(SetUnderStressTest, OverlappingRequestsLeaveOneRequestsPortsEverywhere) {
  // Fast stand-ins for the programs; a restart that takes a moment widens
  // the window in which requests overlap.
  replaceProgram(kTool, "cat \"$ORVA_ROOT$2\" > \"$ORVA_ROOT$3\"");
  replaceProgram(kScript, "sleep 0.02");
  for (int round = 0; round < 2; ++round) {
    std::vector<std::thread> threads;
    std::vector<int> answers(6, -1);
    for (int i = 0; i < 6; ++i) {
      threads.emplace_back([i, round, &answers] {
        const int http = 9000 + round * 10 + i;
        const ORVA::APIResponse response = set(http, http + 1000);
        answers[i] = response.IsSuccess() ? 0 : response.ErrorCode();
      });
    }
    for (std::thread& t : threads) t.join();
    for (int answer : answers) EXPECT_EQ(answer, 0);
    expectOneRequestEverywhere();
  }
}

TEST_F(SetUnderStressTest, StoredPortsStillRepairAServicesFileThatDisagrees) {
  replaceProgram(kTool, "cat \"$ORVA_ROOT$2\" > \"$ORVA_ROOT$3\"");
  replaceProgram(kScript, "exit 0");
  ASSERT_TRUE(set(9008, 10008).IsSuccess());
  const size_t reloads = orva_test::readLines(at("/var/log/firewall.log")).size();
  std::string services = readFile(at(kServices));
  services.replace(services.find("10008/tcp"), 9, "7777/tcp");
  ASSERT_TRUE(writeFile(at(kServices), services));

  ASSERT_TRUE(set(9008, 10008).IsSuccess());
  expectOneRequestEverywhere();
  const auto firewall = orva_test::readLines(at("/var/log/firewall.log"));
  ASSERT_EQ(firewall.size(), reloads + 1);
  EXPECT_NE(firewall.back().find("9008/tcp,10008/tcp"), std::string::npos) << firewall.back();

  // Agreeing again: nothing written, no reload.
  ASSERT_TRUE(set(9008, 10008).IsSuccess());
  EXPECT_EQ(orva_test::readLines(at("/var/log/firewall.log")).size(), reloads + 1);
}

// The program hangs, and leaves a child of its own behind that ignores
// SIGTERM. The start/stop script stand-in ignores SIGTERM itself too (only
// SIGKILL stops it); the conversion tool stand-in dies of SIGTERM and leaves
// its child to be killed with the rest of its process group.
std::string hangingBody(const std::string& pidFile, bool ignoresTerm) {
  return std::string(ignoresTerm ? "trap '' TERM\n" : "") +
         "(trap '' TERM; exec sleep 30) &\necho $! > '" + pidFile + "'\nwhile :; do sleep 1; done";
}

bool processGone(pid_t pid) {
  for (int i = 0; i < 100; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t close = line.rfind(')');
    if (close != std::string::npos && line.compare(close + 2, 1, "Z") == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class HangingProgramTest : public SetUnderStressTest,
                           public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override { ASSERT_EQ(::setenv("ORVA_EXEC_TIMEOUT", "0.5", 1), 0); }
  void TearDown() override { ::unsetenv("ORVA_EXEC_TIMEOUT"); }
};

TEST_P(HangingProgramTest, IsStoppedWithWhatItStartedAndAnswered) {
  const bool tool = std::string(GetParam()) == kTool;
  const std::string pidFile = at("/hung.pid");
  replaceProgram(kTool, "exit 0");
  replaceProgram(kScript, "exit 0");
  replaceProgram(GetParam(), hangingBody(pidFile, !tool));

  const auto start = std::chrono::steady_clock::now();
  const ORVA::APIResponse response = set(9008, 10008);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(response.ErrorCode(), tool ? 1006 : 1007);
  // Far below the two minutes a program may take by default.
  EXPECT_LT(took, std::chrono::seconds(20));
  const std::string child = readFile(pidFile);
  ASSERT_FALSE(child.empty());
  EXPECT_TRUE(processGone(std::stoi(child)));

  // The lock was given back: the next request goes through.
  replaceProgram(GetParam(), "exit 0");
  EXPECT_TRUE(set(9009, 10009).IsSuccess());
}

INSTANTIATE_TEST_SUITE_P(StartStopScriptAndConversionTool, HangingProgramTest,
                         ::testing::Values(kScript, kTool),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.index == 0 ? "Script" : "Tool");
                         });

}  // namespace
