// Error answers and the log lines before them: one table gives every code its
// text, and no logged message is ever read as a printf format.
#include <gtest/gtest.h>

#include <string>

#include "module/error_codes.h"
#include "module/request_params.h"
#include "tests/support/temp_root.h"

namespace {

using orva_errors::Code;

// The published pairs; a swapped or mistyped text fails here.
const struct {
  Code code;
  const char* text;
} kPublished[] = {
    {orva_errors::kLostParameters, "Request lost parameters"},
    {orva_errors::kIncorrectParameter, "Incorrect parameter: Need "},
    {orva_errors::kConfParse, "Json conf parse error"},
    {orva_errors::kConfDump, "Json conf dump error"},
    {orva_errors::kHttpPortConflict, "HTTP port conflict"},
    {orva_errors::kHttpsPortConflict, "HTTPS port conflict"},
    {orva_errors::kUpdatePortFile, "Update port file failed"},
    {orva_errors::kFirewallHup, "Fail to hup firewall rules"},
    {orva_errors::kConfToXml, "Fail to dump json conf into xml conf"},
    {orva_errors::kServerRestart, "Fail to restart calendar server"},
    {orva_errors::kDeleteItems, "Fail to delete item(s) from DB"},
    {orva_errors::kSetCard, "Fail to set card"},
};

TEST(ErrorTable, EveryCodeAnswersWithItsOwnText) {
  for (const auto& row : kPublished) {
    ORVA::APIResponse response;
    orva_params::answerError(&response, row.code);
    EXPECT_EQ(response.ErrorCode(), static_cast<int>(row.code));
    EXPECT_EQ(response.ErrorDetail(), Json::Value(row.text)) << row.code;
  }
  EXPECT_STREQ(orva_errors::errorText(static_cast<Code>(1008)), "Unknown error");
}

TEST(ErrorTable, LoggedAnswerLogsTheTextItAnswers) {
  orva_test::TempRoot root;
  ORVA::APIResponse response;
  orva_params::answerLoggedError(&response, 42, orva_errors::kFirewallHup);
  EXPECT_EQ(response.ErrorDetail(), Json::Value("Fail to hup firewall rules"));
  const std::string log = orva_test::readFile(root.at("/var/log/webapi.log"));
  EXPECT_NE(log.find("webapi-ContactAndCalendar:42 level=1 Fail to hup firewall rules"),
            std::string::npos)
      << log;
}

TEST(ErrorLogLine, MessageWithPercentSignsIsWrittenAsItIs) {
  orva_test::TempRoot root;
  // Read as a format, "%s%s%n" would read and write through missing arguments.
  orva_params::logError(7, "check type of 100%s%s%n(string)");
  orva_params::logError(8, "plain message");
  const auto lines = orva_test::readLines(root.at("/var/log/webapi.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(":7 level=1 check type of 100%s%s%n(string)"), std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find(":8 level=1 plain message"), std::string::npos) << lines[1];
}

}  // namespace
