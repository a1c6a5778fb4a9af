// Request dispatch over a method table: lookup, and the host's guard against
// entry functions that throw, stay silent or answer twice. (These units are
// built into the program only, so the test compiles them; json_text.cpp is
// compiled by host_units_test.cpp.)
#include "appliance/host/api/dispatch.cpp"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "appliance/host/api/json_text.h"
#include "appliance/host/api/module_loader.cpp"
#include "platform/contact_store.h"
#include "tests/support/temp_root.h"

namespace {

using orva_host::DispatchResult;
using orva_host::LoadedModule;

void echoParams(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  response->SetSuccess(request->Params());
}
void refuse(ORVA::APIRequest*, ORVA::APIResponse* response) {
  response->SetError(900, Json::Value("Request lost parameters"));
}
void throwStd(ORVA::APIRequest*, ORVA::APIResponse*) { throw std::runtime_error("disk on fire"); }
void throwOther(ORVA::APIRequest*, ORVA::APIResponse*) { throw 42; }
void answerThenThrow(ORVA::APIRequest*, ORVA::APIResponse* response) {
  response->SetSuccess(Json::Value("half done"));
  throw std::logic_error("after the answer");
}
void silent(ORVA::APIRequest*, ORVA::APIResponse*) {}
void answerTwice(ORVA::APIRequest*, ORVA::APIResponse* response) {
  response->SetError(1011, Json::Value("Fail to set card"));
  response->SetSuccess(Json::Value("second"));
}

const APITableEntry kTable[] = {
    {"T.A", 1, "echo", echoParams},
    {"T.A", 1, "refuse", refuse},
    {"T.A", 1, "throw_std", throwStd},
    {"T.A", 1, "throw_other", throwOther},
    {"T.A", 1, "answer_then_throw", answerThenThrow},
    {"T.A", 1, "silent", silent},
    {"T.A", 1, "twice", answerTwice},
    {"T.A", 2, "echo2", echoParams},
    {"T.B", 1, "echo", refuse},
    {nullptr, 0, nullptr, nullptr},
};

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module_.readTable(kTable, error)) << error;
  }
  DispatchResult run(const std::string& api, int version, const std::string& method,
                     const Json::Value& params = Json::Value(Json::objectValue)) {
    return orva_host::dispatchRequest(module_, api, version, method, params);
  }
  static int code(const DispatchResult& r) { return r.envelope["error"]["code"].asInt(); }
  std::string log() const { return orva_test::readFile(root_.at("/var/log/webapi.log")); }

  orva_test::TempRoot root_;
  LoadedModule module_;
};

TEST_F(Dispatch, FindsTheRowByApiVersionAndMethod) {
  Json::Value params(Json::objectValue);
  params["user"] = "alice";
  const DispatchResult echo = run("T.A", 1, "echo", params);
  EXPECT_TRUE(echo.success);
  EXPECT_EQ(echo.envelope["data"], params);
  // Same method name in another API reaches that API's entry.
  EXPECT_EQ(code(run("T.B", 1, "echo")), 900);
  EXPECT_TRUE(run("T.A", 2, "echo2").success);

  EXPECT_EQ(code(run("T.C", 1, "echo")), 101);
  EXPECT_EQ(code(run("", 1, "echo")), 101);
  EXPECT_EQ(code(run("T.A", 3, "echo")), 103);
  EXPECT_EQ(code(run("T.A", 1, "echo2")), 102);
  EXPECT_EQ(code(run("T.A", 2, "echo")), 102);
  EXPECT_EQ(code(run("T.A", 1, "ECHO")), 102);
}

TEST_F(Dispatch, ModuleErrorsPassThroughUnchanged) {
  const DispatchResult r = run("T.A", 1, "refuse");
  EXPECT_FALSE(r.success);
  EXPECT_EQ(orva_host::envelopeJson(r.envelope),
            "{\"success\":false,\"error\":{\"code\":900,\"detail\":\"Request lost parameters\"}}");
}

TEST_F(Dispatch, ExceptionsBecomeALoggedHostError) {
  for (const char* method : {"throw_std", "throw_other", "answer_then_throw"}) {
    const DispatchResult r = run("T.A", 1, method);
    EXPECT_FALSE(r.success) << method;
    EXPECT_EQ(code(r), 104) << method;
    EXPECT_NE(log().find(std::string("T.A ") + method + " raised an exception"), std::string::npos)
        << method;
  }
  EXPECT_NE(log().find("disk on fire"), std::string::npos);
}

TEST_F(Dispatch, NoAnswerIsALoggedHostError) {
  const DispatchResult r = run("T.A", 1, "silent");
  EXPECT_EQ(code(r), 105);
  EXPECT_NE(log().find("returned without an answer"), std::string::npos);
}

TEST_F(Dispatch, ASecondAnswerIsReportedAndTheFirstKept) {
  ::testing::internal::CaptureStderr();
  const DispatchResult r = run("T.A", 1, "twice");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(r.success);
  EXPECT_EQ(code(r), 1011);
  EXPECT_EQ(r.envelope["error"]["detail"], Json::Value("Fail to set card"));
  EXPECT_NE(err.find("programming error"), std::string::npos) << err;
  EXPECT_NE(log().find("programming error: T.A twice answered 2 times"), std::string::npos)
      << log();
}

TEST_F(Dispatch, ManyThreadsAtOnce) {
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        Json::Value params(Json::objectValue);
        params["n"] = t * 1000 + i;
        const DispatchResult r = run("T.A", 1, "echo", params);
        if (r.success && r.envelope["data"]["n"].asInt() == t * 1000 + i) ++good;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), 8 * 200);
}

// The module names members of its answers with keys in its own memory; the
// host writes such an answer whole while the module is loaded.
TEST(ModuleAnswer, KeysInTheModuleAreWrittenWhileItIsLoaded) {
  orva_test::TempRoot root(true);
  {
    DBHandler db;
    db.SetupUserBasicInfo("alice");
    ASSERT_TRUE(db.AddCard(db.GetGUID("alice"), "c1",
                           "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nFN:Zo\xc3\xab\r\n"
                           "N:Zo\xc3\xab;;;;\r\nEND:VCARD\r\n"));
  }
  LoadedModule module;
  std::string error;
  ASSERT_TRUE(module.load(ORVA_BIN_DIR "/ORVA.ContactAndCalendar.so", error)) << error;
  Json::Value params(Json::objectValue);
  params["user"] = "alice";
  const DispatchResult r = orva_host::dispatchRequest(module, "ORVA.ContactAndCalendar.Contacts", 1,
                                                      "list_cards", params);
  ASSERT_TRUE(r.success);

  const Json::Value& data = r.envelope["data"];
  ASSERT_EQ(data.size(), 1u);
  const char* keyEnd = nullptr;
  const char* key = data.begin().memberName(&keyEnd);
  EXPECT_EQ(std::string(key, keyEnd), "cards");
  Dl_info where{};
  ASSERT_NE(::dladdr(key, &where), 0);
  EXPECT_NE(std::string(where.dli_fname).find("ORVA.ContactAndCalendar.so"), std::string::npos)
      << where.dli_fname;
  // So do the keys of the records the reader builds.
  const char* recordKey = data["cards"][0].begin().memberName(&keyEnd);
  EXPECT_EQ(std::string(recordKey, keyEnd), "company");
  ASSERT_NE(::dladdr(recordKey, &where), 0);
  EXPECT_NE(std::string(where.dli_fname).find("ORVA.ContactAndCalendar.so"), std::string::npos);

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(orva_host::writeEnvelopeLine(file, r.envelope));
  std::string written(static_cast<std::size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  EXPECT_EQ(std::fread(&written[0], 1, written.size(), file), written.size());
  std::fclose(file);
  EXPECT_EQ(orva_test::parseJson(written), r.envelope);
  EXPECT_EQ(r.envelope["data"]["cards"][0]["id"], "c1");
  EXPECT_EQ(r.envelope["data"]["cards"][0]["name"]["family_name"], "Zo\xc3\xab");
}

TEST(ModuleTableReading, IncompleteRowsAreRefused) {
  const APITableEntry noMethod[] = {{"T.A", 1, nullptr, echoParams},
                                    {nullptr, 0, nullptr, nullptr}};
  const APITableEntry noHandler[] = {{"T.A", 1, "m", nullptr}, {nullptr, 0, nullptr, nullptr}};
  const APITableEntry empty[] = {{nullptr, 0, nullptr, nullptr}};
  LoadedModule module;
  std::string error;
  EXPECT_FALSE(module.readTable(nullptr, error));
  EXPECT_FALSE(module.readTable(noMethod, error));
  EXPECT_NE(error.find("row 1"), std::string::npos) << error;
  EXPECT_FALSE(module.readTable(noHandler, error));
  EXPECT_TRUE(module.readTable(empty, error));
  EXPECT_TRUE(module.rows().empty());
}

TEST(ModuleTableReading, ATableWithoutItsEndRowIsRefused) {
  // Complete rows, far more than any module has, and no zero row after them.
  static std::vector<APITableEntry> rows(5000, APITableEntry{"T.A", 1, "m", echoParams});
  LoadedModule module;
  std::string error;
  EXPECT_FALSE(module.readTable(rows.data(), error));
  EXPECT_NE(error.find("no end row"), std::string::npos) << error;
  EXPECT_TRUE(module.rows().empty());
}

}  // namespace
