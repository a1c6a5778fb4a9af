// The host's methods and call commands, run as the real program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/appliance/host/child_process.h"
#include "tests/support/temp_root.h"

namespace {

using host_test::runHost;
using host_test::RunResult;

const char* const kContacts = "ORVA.ContactAndCalendar.Contacts";

class HostCall : public ::testing::Test {
 protected:
  RunResult run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root_.path()});
    return runHost(args);
  }
  RunResult call(std::vector<std::string> rest) {
    rest.insert(rest.begin(), "call");
    return run(rest);
  }

  orva_test::TempRoot root_;
};

TEST_F(HostCall, MethodsListsTheTableInOrder) {
  const RunResult r = run({"methods"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "ORVA.ContactAndCalendar.Common\t1\tget\n"
            "ORVA.ContactAndCalendar.Common\t1\tset\n"
            "ORVA.ContactAndCalendar.Contacts\t1\tlist_cards\n"
            "ORVA.ContactAndCalendar.Contacts\t1\tdelete_cards\n"
            "ORVA.ContactAndCalendar.Contacts\t1\tedit_card\n"
            "ORVA.ContactAndCalendar.Contacts\t1\tadd_card\n"
            "ORVA.ContactAndCalendar.Contacts\t1\timport_cards\n"
            "ORVA.ContactAndCalendar.Contacts\t1\texport_cards\n");
  // The root was seeded on the way.
  struct stat st {};
  EXPECT_EQ(::stat(root_.at("/var/log").c_str(), &st), 0);
}

TEST_F(HostCall, ErrorAnswerIsOneLineAndExitOne) {
  const RunResult r = call({kContacts, "list_cards"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out,
            "{\"success\":false,\"error\":{\"code\":900,\"detail\":\"Request lost "
            "parameters\"}}\n");
  EXPECT_NE(orva_test::readFile(root_.at("/var/log/webapi.log")).find("Request lost parameters"),
            std::string::npos);
}

TEST_F(HostCall, SuccessAnswerExitsZero) {
  const RunResult r = call({kContacts, "list_cards", "user=alice"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("{\"success\":true,\"data\":", 0), 0u) << r.out;
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);
  const Json::Value envelope = orva_test::parseJson(r.out);
  EXPECT_TRUE(envelope["success"].asBool());
}

TEST_F(HostCall, UnknownApiMethodOrVersionIsAHostErrorAnswer) {
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const std::vector<Case> cases = {
      {{"ORVA.Nothing", "list_cards"}, 101},
      {{kContacts, "no_such_method"}, 102},
      {{"ORVA.ContactAndCalendar.Common", "list_cards"}, 102},
      {{kContacts, "list_cards", "--version", "2", "user=alice"}, 103},
      {{kContacts, "list_cards", "--version=0"}, 103},
  };
  for (const Case& c : cases) {
    const RunResult r = call(c.args);
    SCOPED_TRACE(r.out + r.err);
    EXPECT_EQ(r.status, 1);
    const Json::Value envelope = orva_test::parseJson(r.out);
    EXPECT_FALSE(envelope["success"].asBool());
    EXPECT_EQ(envelope["error"]["code"].asInt(), c.code);
    EXPECT_TRUE(envelope["error"]["detail"].isString());
  }
}

TEST_F(HostCall, VersionOptionMayStandAmongParameters) {
  const RunResult r = call({kContacts, "list_cards", "user=alice", "--version", "1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(HostCall, ParameterSyntax) {
  // Accepted: whatever the method then answers, it is not a usage error.
  const std::vector<std::string> accepted = {
      "search_key=",
      "search_key={not json",
      "search_key=a=b",
      "search_key:=\"x\"",
      "search_key:=12",
      "search_key:=-1.5e3",
      "search_key:=true",
      "search_key:=null",
      "search_key:=[1,\"a\",{}]",
      "search_key:={\"a\":[null]}",
      "search_key:= \"padded\" ",
  };
  for (const std::string& param : accepted) {
    const RunResult r = call({kContacts, "list_cards", "user=alice", param});
    EXPECT_NE(r.status, 2) << param << ": " << r.err;
    EXPECT_NE(r.status, -1) << param;
    EXPECT_TRUE(orva_test::parseJson(r.out).isObject()) << param << ": " << r.out;
  }
  const std::vector<std::string> refused = {
      "search_key:={bad",
      "search_key:=",
      "search_key:=1 2",
      "search_key:='x'",
      "search_key:=abc",
      "search_key:=[1,]",
      "search_key:=NaN",
      "search_key:=/*c*/1",
      "search_key:={\"a\":1,\"a\":2}",
      "no_equals_sign",
      "=text",
      ":=1",
  };
  for (const std::string& param : refused) {
    const RunResult r = call({kContacts, "list_cards", "user=alice", param});
    EXPECT_EQ(r.status, 2) << param;
    EXPECT_EQ(r.out, "") << param;
    EXPECT_NE(r.err, "") << param;
  }
}

TEST_F(HostCall, TextAndQuotedJsonStringAreTheSameParameter) {
  const RunResult text = call({kContacts, "list_cards", "user=alice"});
  const RunResult json = call({kContacts, "list_cards", "user:=\"alice\""});
  EXPECT_EQ(text.status, json.status);
  EXPECT_EQ(text.out, json.out);
}

TEST_F(HostCall, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"call"},
      {"call", kContacts},
      {"call", kContacts, "list_cards", "--version"},
      {"call", kContacts, "list_cards", "--version", "one"},
      {"call", kContacts, "list_cards", "user=a", "user=b"},
      {"call", kContacts, "list_cards", "--bogus"},
      {"methods", "extra"},
      {"serve", "--listen", "nowhere"},
      {"serve", "--listen", "127.0.0.1:65536"},
      {"--root"},
  };
  for (const auto& args : cases) {
    const RunResult r = run(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined;
    EXPECT_EQ(r.out, "") << joined;
    EXPECT_NE(r.err.find("orva-webapi: "), std::string::npos) << joined;
  }
}

TEST_F(HostCall, HelpForTheProgramAndEachCommand) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"methods", "--help"}, {"call", "-h"}, {"serve", "--help"}}) {
    const RunResult r = runHost(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.out.rfind("Usage: orva-webapi", 0), 0u) << r.out;
  }
  EXPECT_NE(runHost({"call", "--help"}).out.find("name:=JSON"), std::string::npos);
  EXPECT_NE(runHost({"serve", "--help"}).out.find("--listen"), std::string::npos);
}

TEST_F(HostCall, AModuleThatDoesNotLoadIsAHostFailure) {
  const RunResult missing = run({"--module", root_.at("/nothing.so"), "methods"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot load module"), std::string::npos) << missing.err;

  // A shared object without GetAPITable.
  const RunResult noTable =
      run({"--module", ORVA_BIN_DIR "/liborvawebapi.so", "call", kContacts, "list_cards"});
  EXPECT_EQ(noTable.status, 2);
  EXPECT_EQ(noTable.out, "");
  EXPECT_NE(noTable.err.find("GetAPITable"), std::string::npos) << noTable.err;
}

TEST_F(HostCall, RootComesFromTheEnvironmentAndIsCreated) {
  const std::string fresh = root_.at("/a/b/fresh");
  const RunResult r = runHost({"methods"}, {"ORVA_ROOT=" + fresh});
  EXPECT_EQ(r.status, 0) << r.err;
  struct stat st {};
  EXPECT_EQ(::stat((fresh + "/var/log").c_str(), &st), 0);
}

TEST_F(HostCall, VerboseCopiesTheErrorLogToStandardError) {
  const RunResult quiet = call({kContacts, "list_cards"});
  EXPECT_EQ(quiet.err.find("Request lost parameters"), std::string::npos) << quiet.err;
  const RunResult loud = run({"--verbose", "call", kContacts, "list_cards"});
  EXPECT_EQ(loud.status, 1);
  EXPECT_NE(loud.err.find("Request lost parameters"), std::string::npos) << loud.err;
}

}  // namespace
