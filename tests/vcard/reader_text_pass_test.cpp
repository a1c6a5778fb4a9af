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
  // END in other letter case ends the card too; a property whose name merely
  // begins with END ends nothing.
  const Json::Value endorsed =
      read(card({"X-A:1", "ENDORSED-BY:Jo", "TITLE:Boss", "end:vcard", "TITLE:No"}));
  EXPECT_EQ(endorsed["other"], "X-A:1\r\nENDORSED-BY:Jo\r\n");
  EXPECT_EQ(endorsed["company"]["title"], "Boss");
}

TEST(ReaderFolding, ContinuationLinesJoinTheLineBefore) {
  // RFC 6350 folding: the line break and one blank go, whatever is cut.
  const Json::Value record =
      read(card({"BEGIN:VCARD", "UID:abc-", " def", "NOTE:a long no", "\tte: with a colon",
                 "  and more", "EM", " AIL;TYPE=", " HOME:a@", " b.c", "END:VCARD"}));
  EXPECT_EQ(record["other"], "BEGIN:VCARD\r\nUID:abc-def\r\n");
  EXPECT_EQ(record["note"], "a long note: with a colon and more");
  EXPECT_EQ(record["mail"], json(R"([{"key":"EMAIL","cust_name":"EMAIL","type":["HOME"],
                                       "data":"a@b.c"}])"));
}

TEST(ReaderFolding, OnlyOneBlankGoesAndEveryLineBreakShapeFolds) {
  for (const char* end : {"\r\n", "\n", "\r"}) {
    EXPECT_EQ(read(card({"TITLE:a", "  b", "\t\tc"}, end))["company"]["title"], "a b\tc") << end;
  }
  // Blank lines vanish, so a blank line between a line and its fold is none.
  EXPECT_EQ(read("TITLE:a\r\n\r\n b\r\n")["company"]["title"], "ab");
  // A blank at the very start continues nothing.
  EXPECT_EQ(read("\r\n X-A:1\r\nTITLE:t\r\n")["other"], " X-A:1\r\n");
}

TEST(ReaderPrefixes, FixedFieldsFirstNoteTitleAndOrgWinLaterOnesKept) {
  const Json::Value record =
      read(card({"FN:Jane Doe", "TITLE:Chief", "TITLE:Chief of Staff", "BDAY:1980-02-29",
                 "ORG:Acme;", "ORG:Other", "NOTE:first", "NOTE:second"}));
  EXPECT_EQ(record["company"]["title"], "Chief");
  EXPECT_EQ(record["company"]["org"], "Acme");
  EXPECT_EQ(record["bday"], "1980-02-29");
  EXPECT_EQ(record["note"], "first");
  // FN never reaches "other"; the repeated properties do, unchanged.
  EXPECT_EQ(record["other"], "TITLE:Chief of Staff\r\nORG:Other\r\nNOTE:second\r\n");
}

TEST(ReaderPrefixes, OrgLosesOnlyOneTrailingSemicolon) {
  EXPECT_EQ(read("ORG:Acme;;")["company"]["org"], "Acme;");
  EXPECT_EQ(read("ORG:Acme;Sales")["company"]["org"], "Acme;Sales");
  EXPECT_EQ(read("ORG:;")["company"]["org"], "");
}

TEST(ReaderPrefixes, NamesInAnyCaseWithParametersAndGroups) {
  const Json::Value record =
      read(card({"note:lower", "N;CHARSET=UTF-8:Sasaki;Hina;;;", "Title;LANGUAGE=en:Boss",
                 "item1.ORG:Acme", "BDAY;VALUE=date:1976-04-01", "X-N:Doe", "NOTES:x"}));
  EXPECT_EQ(record["note"], "lower");
  EXPECT_EQ(record["name"]["family_name"], "Sasaki");
  EXPECT_EQ(record["name"]["given_name"], "Hina");
  EXPECT_EQ(record["company"]["title"], "Boss");
  EXPECT_EQ(record["company"]["org"], "Acme");
  EXPECT_EQ(record["bday"], "1976-04-01");
  EXPECT_EQ(record["other"], "X-N:Doe\r\nNOTES:x\r\n");
  // The value starts after the first ':' outside quotes.
  EXPECT_EQ(read("NOTE;X-A=\"a:b\":text: more")["note"], "text: more");
}

TEST(ReaderName, ComponentsBySemicolonWithPrefixAndSuffix) {
  EXPECT_EQ(read("N:Doe")["name"], json(R"({"family_name":"Doe","given_name":"",
                                            "additional_name":""})"));
  EXPECT_EQ(read("N:Doe;John;Q.;Dr.;Jr.")["name"],
            json(R"({"family_name":"Doe","given_name":"John","additional_name":"Q.",
                     "prefix":"Dr.","suffix":"Jr."})"));
  EXPECT_EQ(read("N:;;Mid;;")["name"],
            json(R"({"family_name":"","given_name":"","additional_name":"Mid"})"));
  // A stray sixth component stays with the suffix, so nothing is lost.
  EXPECT_EQ(read("N:a;b;c;;PhD;x")["name"]["suffix"], "PhD;x");
  // An escaped ';' is text of its component, which keeps its escape.
  EXPECT_EQ(read("N:O\\;Brien;Pat")["name"]["family_name"], "O\\;Brien");
  EXPECT_EQ(read("N:O\\;Brien;Pat")["name"]["given_name"], "Pat");
  EXPECT_EQ(read("N:a\\\\;b")["name"]["given_name"], "b");
  // A later N line replaces the whole name, prefix and suffix included.
  EXPECT_FALSE(read(card({"N:a;b;c;Dr.;", "N:x;y"}))["name"].isMember("prefix"));
}

TEST(ReaderName, TheCardsOwnDisplayNameIsAlwaysKept) {
  EXPECT_EQ(read(card({"N:;;;;", "FN:Acme Corp", "ORG:Acme Corp"}))["name"]["formatted_name"],
            "Acme Corp");
  EXPECT_EQ(read(card({"FN:Max Mustermann", "N:Mustermann;Max;Peter"}))["name"]["formatted_name"],
            "Max Mustermann");
  EXPECT_EQ(read(card({"FN:Doe\\, Jane", "N:Doe;Jane"}))["name"]["formatted_name"], "Doe\\, Jane");
  EXPECT_EQ(read(card({"FN:", "N:;;;;"}))["name"]["formatted_name"], "");
  EXPECT_FALSE(read(card({"N:Doe;Jane"}))["name"].isMember("formatted_name"));
}

TEST(ReaderFieldLines, GroupsAndParametersOfSingleLinesAreKept) {
  const Json::Value record =
      read(card({"FN;LANGUAGE=de:Max", "N:M;Max", "WORK.ORG:Acme;Dev", "BDAY;VALUE=date:1990-01-02",
                 "TITLE;X-A=\"a;b\":Boss", "NOTE:n"}));
  EXPECT_EQ(record["field_lines"], json(R"({"formatted_name":{"params":["LANGUAGE=de"]},
                                            "org":{"group":"WORK"},
                                            "bday":{"params":["VALUE=date"]},
                                            "title":{"params":["X-A=\"a;b\""]}})"));
  EXPECT_EQ(record["bday"], "1990-01-02");
  EXPECT_EQ(record["company"]["org"], "Acme;Dev");
  EXPECT_FALSE(read(card({"FN:A", "ORG:B"})).isMember("field_lines"));
}

TEST(ReaderRepeats, TheFirstOfARepeatedFieldIsShownTheRestKept) {
  const Json::Value record =
      read(card({"ORG:First", "BDAY:1990-01-02", "ORG:Second", "BDAY;ALTID=1:--0102", "TITLE:A",
                 "TITLE:B", "NOTE:one", "NOTE:two"}));
  EXPECT_EQ(record["company"]["org"], "First");
  EXPECT_EQ(record["company"]["title"], "A");
  EXPECT_EQ(record["bday"], "1990-01-02");
  EXPECT_EQ(record["note"], "one");
  EXPECT_EQ(record["other"], "ORG:Second\r\nBDAY;ALTID=1:--0102\r\nTITLE:B\r\nNOTE:two\r\n");
  // An escaped closing ';' of ORG is text and stays.
  EXPECT_EQ(read(card({"ORG:Acme\\;"}))["company"]["org"], "Acme\\;");
  EXPECT_EQ(read(card({"ORG:Acme\\\\;"}))["company"]["org"], "Acme\\\\");
}

TEST(ReaderNote, BareLinesJoinWithLineFeedUntilColonLine) {
  const Json::Value record = read(card({"NOTE:one", "two", "three", "X-A:b", "four"}));
  EXPECT_EQ(record["note"], "one\ntwo\nthree");
  EXPECT_EQ(record["other"], "X-A:b\r\nfour\r\n");
}

TEST(ReaderNote, LineBreakEscapesBecomeLineFeeds) {
  EXPECT_EQ(read("NOTE:a\\nb\\Nc")["note"], "a\nb\nc");
  // "\\" stands as it is, so "\\n" is a backslash pair and an n.
  EXPECT_EQ(read("NOTE:path C:\\\\new")["note"], "path C:\\\\new");
  EXPECT_EQ(read("NOTE:a\\,b\\;c\\")["note"], "a\\,b\\;c\\");
  EXPECT_EQ(read(card({"NOTE:a", "b\\nc"}))["note"], "a\nb\nc");
}

TEST(ReaderRuleOrder, LinesAreKnownByNameNotByWhatTheyContain) {
  const Json::Value record = read(card(
      {"NOTE:call TEL;555", "X-ME:EMAIL;TEL;x@y", "X-TEL;ADR;1 Main St", "X-ADR;URL:;;2 Side St"}));
  EXPECT_EQ(record["note"], "call TEL;555");
  EXPECT_EQ(record["mail"].size(), 0u);
  EXPECT_EQ(record["tel"].size(), 0u);
  EXPECT_FALSE(record.isMember("adr"));
  EXPECT_FALSE(record.isMember("url"));
  EXPECT_EQ(record["other"],
            "X-ME:EMAIL;TEL;x@y\r\nX-TEL;ADR;1 Main St\r\nX-ADR;URL:;;2 Side St\r\n");
}

TEST(ReaderRuleOrder, PropertiesWithoutParametersAreRead) {
  const Json::Value record = read(card({"EMAIL:a@b", "TEL:555", "ADR:;;Main", "URL:http://x"}));
  EXPECT_EQ(record["mail"][0]["data"], "a@b");
  EXPECT_EQ(record["tel"][0]["data"], "555");
  EXPECT_EQ(record["adr"][0]["data"], ";;Main");
  EXPECT_EQ(record["url"][0]["data"], "http://x");
  EXPECT_EQ(record["other"], "");
}

TEST(ReaderAddress, BareLinesJoinTheLastAddress) {
  const Json::Value record =
      read(card({"ADR;type=HOME:;;1 Main St;Springfield", "Apt 4", "rear", "X-A:b", "stray"}));
  ASSERT_EQ(record["adr"].size(), 1u);
  EXPECT_EQ(record["adr"][0]["data"], ";;1 Main St;Springfield Apt 4 rear");
  EXPECT_EQ(record["other"], "X-A:b\r\nstray\r\n");
}

TEST(ReaderAddress, BareLineAfterEmptyAddressStaysWithIt) {
  // The empty line is kept in "other", and what follows it stays beside it.
  EXPECT_EQ(read(card({"ADR;type=HOME:", "orphan", "next"}))["other"],
            "ADR;type=HOME:\r\norphan\r\nnext\r\n");
  const Json::Value record = read(card({"ADR;type=WORK:;;Old St", "ADR;type=HOME:", "orphan"}));
  EXPECT_EQ(record["adr"][0]["data"], ";;Old St");
  EXPECT_EQ(record["other"], "ADR;type=HOME:\r\norphan\r\n");
}

}  // namespace
