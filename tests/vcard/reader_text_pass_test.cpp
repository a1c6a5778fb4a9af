// The text pass, rule by rule, on whole card texts.
#include <gtest/gtest.h>

#include "tests/vcard/reader_helpers.h"

namespace {

using reader_test::card;
using reader_test::json;
using reader_test::read;

TEST(ReaderEmptyRecord, MinimalCardKeepsHeaderInOther) {
  const Json::Value record = read(card({"BEGIN:VCARD", "VERSION:3.0", "END:VCARD"}));
  EXPECT_EQ(record, json(R"({"name":{"family_name":"","given_name":"","additional_name":""},
      "company":{"org":"","title":""},"tel":[],"mail":[],"note":"",
      "other":"BEGIN:VCARD\r\nVERSION:3.0\r\n"})"));
}

TEST(ReaderEmptyRecord, EmptyTextAndSetEmptyInfoDropOldMembers) {
  EXPECT_EQ(read("")["other"], "");
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler(&request, &response, "test");
  Json::Value record = json(R"({"id":"x","adr":[{"data":"a"}],"bday":"1"})");
  handler.setEmptyInfo(record);
  EXPECT_EQ(record.getMemberNames(),
            (Json::Value::Members{"company", "mail", "name", "note", "tel"}));
}

TEST(ReaderLines, CrLfLfAndLoneCrSplitAlikeAndBlankLinesVanish) {
  const std::string lines[] = {
      "BEGIN:VCARD\r\nN:Doe;Jane\r\n\r\nX-A:1\r\nEND:VCARD\r\n",
      "BEGIN:VCARD\nN:Doe;Jane\n\nX-A:1\nEND:VCARD\n",
      "BEGIN:VCARD\rN:Doe;Jane\r\rX-A:1\rEND:VCARD",
  };
  for (const std::string& text : lines) {
    const Json::Value record = read(text);
    EXPECT_EQ(record["name"]["given_name"], "Jane");
    EXPECT_EQ(record["other"], "BEGIN:VCARD\r\nX-A:1\r\n");
  }
}

TEST(ReaderEnd, StopsAtFirstLineBeginningWithEnd) {
  const Json::Value record = read(card(
      {"BEGIN:VCARD", "NOTE:a", "ENDX", "TITLE:Boss", "END:VCARD", "BEGIN:VCARD", "N:Other;Card"}));
  EXPECT_EQ(record["other"], "BEGIN:VCARD\r\n");
  EXPECT_EQ(record["company"]["title"], "");
  EXPECT_EQ(record["name"]["family_name"], "");
}

TEST(ReaderPrefixes, FixedFieldsAndLastLineWins) {
  const Json::Value record =
      read(card({"FN:Jane Doe", "TITLE:Chief", "TITLE:Chief of Staff", "BDAY:1980-02-29",
                 "ORG:Acme;", "NOTE:first", "NOTE:second"}));
  EXPECT_EQ(record["company"]["title"], "Chief of Staff");
  EXPECT_EQ(record["company"]["org"], "Acme");
  EXPECT_EQ(record["bday"], "1980-02-29");
  EXPECT_EQ(record["note"], "second");
  EXPECT_EQ(record["other"], "");  // FN never reaches "other"
}

TEST(ReaderPrefixes, OrgLosesOnlyOneTrailingSemicolon) {
  EXPECT_EQ(read("ORG:Acme;;")["company"]["org"], "Acme;");
  EXPECT_EQ(read("ORG:Acme;Sales")["company"]["org"], "Acme;Sales");
  EXPECT_EQ(read("ORG:;")["company"]["org"], "");
}

TEST(ReaderPrefixes, PrefixesAreCaseAndPlaceSensitive) {
  const Json::Value record =
      read(card({"note:lower", "NOTE;CHARSET=UTF-8:param", "X-N:Doe", "item1.TITLE:x"}));
  EXPECT_EQ(record["note"], "");
  EXPECT_EQ(record["name"]["family_name"], "");
  EXPECT_EQ(record["other"],
            "note:lower\r\nNOTE;CHARSET=UTF-8:param\r\nX-N:Doe\r\nitem1.TITLE:x\r\n");
}

TEST(ReaderName, ComponentsBySemicolonPaddedAndTruncated) {
  EXPECT_EQ(read("N:Doe")["name"], json(R"({"family_name":"Doe","given_name":"",
                                            "additional_name":""})"));
  EXPECT_EQ(read("N:Doe;John;Q.;Dr.;Jr.")["name"],
            json(R"({"family_name":"Doe","given_name":"John","additional_name":"Q."})"));
  EXPECT_EQ(read("N:;;Mid;;")["name"],
            json(R"({"family_name":"","given_name":"","additional_name":"Mid"})"));
  // Backslashes are not special: an escaped ';' still separates.
  EXPECT_EQ(read("N:O\\;Brien;Pat")["name"]["given_name"], "Brien");
}

TEST(ReaderNote, ContinuationLinesJoinWithLineFeedUntilColonLine) {
  const Json::Value record =
      read(card({"NOTE:one", " two", "three", "X-A:b", "four", "NOTE:x", "X-B:c", "five"}));
  EXPECT_EQ(record["note"], "x");
  EXPECT_EQ(read(card({"NOTE:one", " two", "three", "X-A:b", "four"}))["note"], "one\n two\nthree");
  EXPECT_EQ(read(card({"NOTE:one", " two", "three", "X-A:b", "four"}))["other"],
            "X-A:b\r\nfour\r\n");
  EXPECT_EQ(record["other"], "X-A:b\r\nfour\r\nX-B:c\r\nfive\r\n");
}

TEST(ReaderNote, LineBreakEscapesBecomeLineFeeds) {
  EXPECT_EQ(read("NOTE:a\\nb\\Nc")["note"], "a\nb\nc");
  // "\\" stands as it is, so "\\n" is a backslash pair and an n.
  EXPECT_EQ(read("NOTE:path C:\\\\new")["note"], "path C:\\\\new");
  EXPECT_EQ(read("NOTE:a\\,b\\;c\\")["note"], "a\\,b\\;c\\");
  EXPECT_EQ(read(card({"NOTE:a", "b\\nc"}))["note"], "a\nb\nc");
}

TEST(ReaderRuleOrder, FirstFittingRuleWins) {
  const Json::Value record = read(card(
      {"NOTE:call TEL;555", "X-ME:EMAIL;TEL;x@y", "X-TEL;ADR;1 Main St", "X-ADR;URL:;;2 Side St"}));
  EXPECT_EQ(record["note"], "call TEL;555");
  ASSERT_EQ(record["mail"].size(), 1u);
  EXPECT_EQ(record["mail"][0]["key"], "X-ME");
  EXPECT_EQ(record["mail"][0]["data"], "x@y");
  ASSERT_EQ(record["tel"].size(), 1u);
  EXPECT_EQ(record["tel"][0]["data"], "1 Main St");
  ASSERT_EQ(record["adr"].size(), 1u);
  EXPECT_EQ(record["adr"][0]["key"], "X-ADR");
  EXPECT_FALSE(record.isMember("url"));
  EXPECT_EQ(record["other"], "");
}

TEST(ReaderRuleOrder, PropertiesWithoutParametersLandInOther) {
  const Json::Value record = read(card({"EMAIL:a@b", "TEL:555", "ADR:;;Main"}));
  EXPECT_EQ(record["mail"].size(), 0u);
  EXPECT_EQ(record["tel"].size(), 0u);
  EXPECT_FALSE(record.isMember("adr"));
  EXPECT_EQ(record["other"], "EMAIL:a@b\r\nTEL:555\r\nADR:;;Main\r\n");
}

TEST(ReaderAddress, ContinuationLinesJoinTheLastAddress) {
  const Json::Value record =
      read(card({"ADR;type=HOME:;;1 Main St;Springfield", "Apt 4", " rear", "X-A:b", "stray"}));
  ASSERT_EQ(record["adr"].size(), 1u);
  EXPECT_EQ(record["adr"][0]["data"], ";;1 Main St;Springfield Apt 4  rear");
  EXPECT_EQ(record["other"], "X-A:b\r\nstray\r\n");
}

TEST(ReaderAddress, ContinuationAfterEmptyAddress) {
  // No address at all: the line is kept in "other".
  EXPECT_EQ(read(card({"ADR;type=HOME:", "orphan", "next"}))["other"], "orphan\r\nnext\r\n");
  // An earlier address exists: the line joins it.
  const Json::Value record = read(card({"ADR;type=WORK:;;Old St", "ADR;type=HOME:", "orphan"}));
  EXPECT_EQ(record["adr"][0]["data"], ";;Old St orphan");
}

}  // namespace
