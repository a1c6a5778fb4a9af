// delete_cards and export_cards against the real contact store, through the
// host's request and response. Both run one procedure, so every case runs for
// both methods.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

using Method = void (ContactAndCalendarHandler::*)();

struct Operation {
  const char* name;
  Method method;
  bool deletes;
};

std::string cardText(const std::string& name, const std::string& fullName) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + name + "\r\nFN:" + fullName + "\r\nN:;" + fullName +
         ";;;\r\nEND:VCARD\r\n";
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class DeleteExportCards : public ::testing::TestWithParam<Operation> {
 protected:
  void SetUp() override {
    store_.SetupUserBasicInfo("alice");
    guid_ = store_.GetGUID("alice");
    if (guid_.empty()) GTEST_SKIP() << "the contact store keeps no users yet";
    for (const char* name : {"card-a", "card-b", "card-c"}) {
      ASSERT_TRUE(store_.AddCard(guid_, name, cardText(name, std::string("Name ") + name)));
    }
  }

  ORVA::APIResponse call(const Json::Value& params) {
    return orva_test::callHandler(GetParam().method, params);
  }

  std::vector<std::string> names() {
    Json::Value ids(Json::arrayValue), texts(Json::arrayValue);
    store_.GetCards(ids, texts, guid_);
    std::vector<std::string> out;
    for (const auto& id : ids) out.push_back(id.asString());
    return out;
  }

  // Files the store wrote to alice's export folder, by name.
  std::vector<std::string> exportedFiles() {
    std::vector<std::string> out;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(exportDir(), missing)) {
      out.push_back(entry.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string exportDir() { return root_.at("/var/packages/Tessaro/var/export/alice"); }

  Json::Value request(const Json::Value& ids, const char* user = "alice") {
    Json::Value params(Json::objectValue);
    params["user"] = user;
    params["id"] = ids;
    return params;
  }

  std::string log(const char* file) { return orva_test::readFile(root_.at(file)); }

  orva_test::TempRoot root_{true};
  DBHandler store_;
  std::string guid_;
  const std::vector<std::string> all_{"card-a", "card-b", "card-c"};
};

Json::Value array(std::initializer_list<Json::Value> items) {
  Json::Value out(Json::arrayValue);
  for (const auto& item : items) out.append(item);
  return out;
}

TEST_P(DeleteExportCards, EveryNameDoneAnswersNull) {
  const ORVA::APIResponse response = call(request(array({"card-a", "card-c"})));
  ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
  EXPECT_TRUE(response.Data().isNull());
  if (GetParam().deletes) {
    EXPECT_EQ(names(), std::vector<std::string>{"card-b"});
  } else {
    EXPECT_EQ(names(), all_);
    EXPECT_EQ(exportedFiles(), (std::vector<std::string>{"card-a.vcf", "card-c.vcf"}));
    EXPECT_EQ(orva_test::readFile(exportDir() + "/card-c.vcf"), cardText("card-c", "Name card-c"));
  }
  EXPECT_TRUE(orva_test::readFile(root_.at("/var/log/webapi.log")).empty());
}

TEST_P(DeleteExportCards, StopsAtTheFirstNameTheStoreRefuses) {
  const ORVA::APIResponse response = call(request(array({"card-a", "missing", "card-c"})));
  ASSERT_FALSE(response.IsSuccess());
  EXPECT_EQ(response.ErrorCode(), 1009);
  EXPECT_EQ(response.ErrorDetail(), Json::Value("Fail to delete item(s) from DB"));
  // A store refusal is not logged.
  EXPECT_FALSE(contains(log("/var/log/webapi.log"), "Fail to delete"));
  if (GetParam().deletes) {
    EXPECT_EQ(names(), (std::vector<std::string>{"card-b", "card-c"}));
  } else {
    EXPECT_EQ(names(), all_);
    EXPECT_EQ(exportedFiles(), std::vector<std::string>{"card-a.vcf"});
  }
}

TEST_P(DeleteExportCards, EmptyArrayChangesNothing) {
  const ORVA::APIResponse response = call(request(Json::Value(Json::arrayValue)));
  ASSERT_TRUE(response.IsSuccess());
  EXPECT_TRUE(response.Data().isNull());
  EXPECT_EQ(names(), all_);
  EXPECT_TRUE(exportedFiles().empty());
}

TEST_P(DeleteExportCards, UnknownUserIsLoggedAndAnsweredNullBeforeTheTypeTest) {
  for (const Json::Value& ids : {array({"card-a"}), Json::Value("card-a")}) {
    const ORVA::APIResponse response = call(request(ids, "bob"));
    ASSERT_TRUE(response.IsSuccess()) << orva_test::toJson(response.Envelope());
    EXPECT_TRUE(response.Data().isNull());
  }
  const std::string messages = log("/var/log/messages");
  EXPECT_TRUE(contains(messages, "<3> webapi-ContactAndCalendar:")) << messages;
  EXPECT_TRUE(contains(messages, " Can't find [bob]'s ID\n")) << messages;
  EXPECT_TRUE(store_.GetGUID("bob").empty()) << "an unknown user is not set up";
  EXPECT_EQ(names(), all_);
}

TEST_P(DeleteExportCards, MissingParametersAnswer900) {
  Json::Value noId(Json::objectValue);
  noId["user"] = "alice";
  Json::Value noUser(Json::objectValue);
  noUser["id"] = array({"card-a"});
  for (const Json::Value& params : {noId, noUser}) {
    const ORVA::APIResponse response = call(params);
    EXPECT_EQ(response.ErrorCode(), 900);
    EXPECT_EQ(response.ErrorDetail(), Json::Value("Request lost parameters"));
  }
  EXPECT_TRUE(contains(log("/var/log/webapi.log"), "level=1 Request lost parameters"));
  EXPECT_EQ(names(), all_);
}

TEST_P(DeleteExportCards, WrongTypesAnswer901AndTouchNothing) {
  struct Case {
    Json::Value params;
    const char* logged;
  };
  Json::Value objectUser = request(array({"card-a"}));
  objectUser["user"] = Json::Value(Json::objectValue);
  const std::vector<Case> cases = {
      {request(Json::Value("card-a")), "check type of id(array)"},
      {request(Json::Value(Json::objectValue)), "check type of id(array)"},
      // A bad element anywhere stops the request before the first name.
      {request(array({"card-a", "card-b", array({"card-c"})})),
       "check type of id(array of strings)"},
      {request(array({"card-a", Json::Value(Json::objectValue)})),
       "check type of id(array of strings)"},
      {objectUser, "check type of user(string)"},
  };
  for (const Case& c : cases) {
    const ORVA::APIResponse response = call(c.params);
    EXPECT_EQ(response.ErrorCode(), 901) << orva_test::toJson(c.params);
    EXPECT_EQ(response.ErrorDetail(), Json::Value("Incorrect parameter: Need "));
    EXPECT_TRUE(contains(log("/var/log/webapi.log"), std::string("level=1 ") + c.logged))
        << c.logged;
  }
  EXPECT_EQ(names(), all_);
  EXPECT_TRUE(exportedFiles().empty());
}

TEST_P(DeleteExportCards, AMalformedNameAnywhereStopsTheRequestBeforeTheFirstName) {
  for (const char* bad : {"", "../card-b", "a/b", ".hidden", "card-c~"}) {
    const ORVA::APIResponse response = call(request(array({"card-a", "card-b", bad})));
    EXPECT_EQ(response.ErrorCode(), 1009) << bad;
    EXPECT_EQ(response.ErrorDetail(), Json::Value("Fail to delete item(s) from DB"));
  }
  const ORVA::APIResponse nul = call(request(array({"card-a", std::string("card-b\0x", 8)})));
  EXPECT_EQ(nul.ErrorCode(), 1009);
  EXPECT_EQ(names(), all_);
  EXPECT_TRUE(exportedFiles().empty());
}

TEST_P(DeleteExportCards, ScalarNamesGoToTheStoreAsText) {
  // jsoncpp turns numbers into text; the store decides about the name.
  const ORVA::APIResponse response = call(request(array({"card-a", 7})));
  EXPECT_EQ(response.ErrorCode(), 1009);
}

INSTANTIATE_TEST_SUITE_P(
    BothMethods, DeleteExportCards,
    ::testing::Values(Operation{"delete", &ContactAndCalendarHandler::deleteCards, true},
                      Operation{"export", &ContactAndCalendarHandler::exportCards, false}),
    [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

}  // namespace
