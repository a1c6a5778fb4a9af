// Loads the built module the way the host does (dlopen, GetAPITable, the
// table's entry functions) and checks its frame: the table, the parameter
// check of every method and the exported names.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <json/value.h>
#include <link.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/webapi.h"
#include "tests/support/temp_root.h"

namespace {

const char* const kModulePath = ORVA_BIN_DIR "/ORVA.ContactAndCalendar.so";
const char* const kCommon = "ORVA.ContactAndCalendar.Common";
const char* const kContacts = "ORVA.ContactAndCalendar.Contacts";

struct ExpectedRow {
  const char* api;
  const char* method;
  const char* entry;
  std::vector<std::string> required;  // in the order the method checks them
};

const std::vector<ExpectedRow>& expectedRows() {
  static const std::vector<ExpectedRow> rows = {
      {kCommon, "get", "common_get", {}},
      {kCommon, "set", "common_set", {"EnableSSL", "RedirectHTTPToHTTPS", "HTTPPort", "SSLPort"}},
      {kContacts, "list_cards", "contact_list_cards", {"user"}},
      {kContacts, "delete_cards", "contact_delete_cards", {"user", "id"}},
      {kContacts, "edit_card", "contact_edit_card", {"card", "user"}},
      {kContacts, "add_card", "contact_add_card", {"card", "user"}},
      {kContacts, "import_cards", "contact_import_cards", {"user", "file_tmp", "file"}},
      {kContacts, "export_cards", "contact_export_cards", {"user", "id"}},
  };
  return rows;
}

// A well-typed value for each parameter, so that only the one left out is
// missing.
Json::Value sampleValue(const std::string& name) {
  if (name == "user") return "alice";
  if (name == "id") {
    Json::Value ids(Json::arrayValue);
    ids.append("card-1");
    return ids;
  }
  if (name == "card") return Json::Value(Json::objectValue);
  if (name == "file_tmp") return "/nonexistent/upload.tmp";
  if (name == "file") return "contacts.vcf";
  if (name == "EnableSSL" || name == "RedirectHTTPToHTTPS") return false;
  if (name == "HTTPPort") return 5000;
  if (name == "SSLPort") return 5001;
  return Json::Value();
}

class ModuleTable : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = ::dlopen(kModulePath, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << ::dlerror();
    auto getTable = reinterpret_cast<const APITableEntry* (*)()>(::dlsym(handle_, "GetAPITable"));
    ASSERT_NE(getTable, nullptr);
    table_ = getTable();
    ASSERT_NE(table_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) ::dlclose(handle_);
  }

  void* handle_ = nullptr;
  const APITableEntry* table_ = nullptr;
};

TEST_F(ModuleTable, EightRowsInOrderThenTheZeroRow) {
  const auto& expected = expectedRows();
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].entry);
    const APITableEntry& row = table_[i];
    ASSERT_NE(row.api, nullptr);
    ASSERT_NE(row.method, nullptr);
    EXPECT_STREQ(row.api, expected[i].api);
    EXPECT_STREQ(row.method, expected[i].method);
    EXPECT_EQ(row.version, 1);
    // The row names the entry function of the same name, not a neighbour's.
    EXPECT_EQ(reinterpret_cast<void*>(row.handler), ::dlsym(handle_, expected[i].entry));
  }
  const APITableEntry& end = table_[expected.size()];
  EXPECT_EQ(end.api, nullptr);
  EXPECT_EQ(end.version, 0);
  EXPECT_EQ(end.method, nullptr);
  EXPECT_EQ(end.handler, nullptr);
  EXPECT_EQ(static_cast<const void*>(table_), ::dlsym(handle_, "gTable"));

  // The zero row belongs to the table itself, not to whatever memory
  // happens to follow it: the exported array is exactly nine rows long.
  Dl_info info{};
  void* entry = nullptr;
  ASSERT_NE(::dladdr1(table_, &info, &entry, RTLD_DL_SYMENT), 0);
  const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
  ASSERT_NE(symbol, nullptr);
  EXPECT_STREQ(info.dli_sname, "gTable");
  EXPECT_EQ(symbol->st_size, (expected.size() + 1) * sizeof(APITableEntry));
}

TEST_F(ModuleTable, EveryMethodStopsAtEachMissingParameter) {
  orva_test::TempRoot root(true);
  const std::string log = root.at("/var/log/webapi.log");
  const auto& expected = expectedRows();
  for (size_t i = 0; i < expected.size(); ++i) {
    for (const std::string& missing : expected[i].required) {
      SCOPED_TRACE(std::string(expected[i].method) + " without " + missing);
      Json::Value params(Json::objectValue);
      for (const std::string& name : expected[i].required) {
        if (name != missing) params[name] = sampleValue(name);
      }
      const size_t linesBefore = orva_test::readLines(log).size();
      ORVA::APIRequest request(params);
      ORVA::APIResponse response;
      table_[i].handler(&request, &response);

      EXPECT_TRUE(response.IsAnswered());
      EXPECT_EQ(response.AnswerCount(), 1);
      EXPECT_FALSE(response.IsSuccess());
      EXPECT_EQ(response.ErrorCode(), 900);
      EXPECT_EQ(response.ErrorDetail(), Json::Value("Request lost parameters"));

      const std::vector<std::string> lines = orva_test::readLines(log);
      ASSERT_EQ(lines.size(), linesBefore + 1);
      EXPECT_NE(lines.back().find("webapi-ContactAndCalendar"), std::string::npos) << lines.back();
      EXPECT_NE(lines.back().find("Request lost parameters"), std::string::npos) << lines.back();
    }
  }
}

TEST_F(ModuleTable, GetNeedsNoParameter) {
  orva_test::TempRoot root(true);
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  table_[0].handler(&request, &response);
  EXPECT_TRUE(response.IsAnswered());
  EXPECT_EQ(response.AnswerCount(), 1);
  if (!response.IsSuccess()) {
    EXPECT_NE(response.ErrorCode(), 900);
  }
}

// Linker-made names that every shared object defines.
bool isLinkerName(const std::string& name) {
  static const std::set<std::string> names = {"_init", "_fini", "__bss_start", "_edata", "_end"};
  return names.count(name) != 0;
}

TEST(ModuleExports, ExactlyTheTableAndItsEntries) {
  FILE* pipe =
      ::popen((std::string("nm -D --defined-only '") + kModulePath + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  ASSERT_EQ(::pclose(pipe), 0) << output;

  std::set<std::string> exported;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (!(fields >> address >> type >> name)) continue;
    const size_t at = name.find('@');  // drop any version suffix
    if (at != std::string::npos) name.resize(at);
    if (!isLinkerName(name)) exported.insert(name);
  }
  const std::set<std::string> expected = {"GetAPITable",          "gTable",
                                          "common_get",           "common_set",
                                          "contact_list_cards",   "contact_add_card",
                                          "contact_delete_cards", "contact_edit_card",
                                          "contact_import_cards", "contact_export_cards"};
  EXPECT_EQ(exported, expected) << output;
}

}  // namespace
