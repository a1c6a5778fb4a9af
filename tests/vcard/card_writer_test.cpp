// The vCard writer, byte for byte: setCardContent and formulateStr.
#include "vcard/card_writer.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <string>

#include "module/webapi-ContactAndCalendar.h"
#include "tests/support/temp_root.h"
#include "vcard/card_reader.h"

namespace {

const char kHeader[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODUCTID:-//Orvanta//HOX//EN\r\n";

class CardWriterTest : public ::testing::Test {
 protected:
  std::string write(const Json::Value& record) { return handler.setCardContent(record); }

  orva_test::TempRoot root;
  ORVA::APIRequest request;
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler{&request, &response, "test"};
};

Json::Value entry(const std::string& data, std::initializer_list<const char*> types = {}) {
  Json::Value value(Json::objectValue);
  value["data"] = data;
  for (const char* type : types) value["type"].append(type);
  return value;
}

Json::Value fullRecord() {
  Json::Value record(Json::objectValue);
  record["id"] = "";
  record["other"] = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:abc\r\nX-CUSTOM;x=1:kept\r\n";
  record["name"]["family_name"] = "Doe";
  record["name"]["given_name"] = "Jane";
  record["name"]["additional_name"] = "Q";
  record["company"]["org"] = "Acme";
  record["company"]["title"] = "Boss";
  record["mail"].append(entry("a.b", {"INTERNET", "HOME"}));
  record["mail"].append(entry("c@d"));
  record["tel"].append(entry("+1 555 0100"));
  record["adr"].append(entry("  1 Main St\\Apt 2", {"HOME"}));
  record["adr"].append(entry(";Attn: Desk;2 Side St\\, 3;Town;;;", {"WORK"}));
  record["url"].append(entry("https://example.org/a:b", {"WORK", "pref"}));
  record["note"] = "hello";
  record["bday"] = "2000-01-01";
  record["tel"][0]["key"] = "item1.TEL";
  record["tel"][0]["cust_name"] = "Gym";
  record["resource_name"] = "r1";
  return record;
}

const char kFullText[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:abc\r\nX-CUSTOM;x=1:kept\r\n"
    "FN:Doe Jane Q\r\n"
    "N:Doe;Jane;Q;;\r\n"
    "ORG:Acme\r\n"
    "TITLE:Boss\r\n"
    "BDAY:2000-01-01\r\n"
    "EMAIL;type=INTERNET;type=HOME:a.b\r\n"
    "EMAIL:c@d\r\n"
    "item1.TEL:+1 555 0100\r\n"
    "ADR;type=HOME:;;1 Main St\\\\Apt 2;;;;\r\n"
    "ADR;type=WORK:;Attn: Desk;2 Side St\\, 3;Town;;;\r\n"
    "URL;type=WORK;type=pref:https://example.org/a:b\r\n"
    "NOTE:hello\r\n"
    "END:VCARD\r\n";

TEST_F(CardWriterTest, IdOnlyGivesHeaderUidAndEmptyFields) {
  Json::Value record(Json::objectValue);
  record["id"] = "u1";
  EXPECT_EQ(write(record),
            std::string(kHeader) + "UID:u1\r\nFN:\r\nN:;;;;\r\nNOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, EmptyIdWithoutOtherStartsAtFn) {
  Json::Value record(Json::objectValue);
  record["id"] = "";
  EXPECT_EQ(write(record), "FN:\r\nN:;;;;\r\nNOTE:\r\nEND:VCARD\r\n");
  EXPECT_EQ(write(Json::Value(Json::objectValue)), "FN:\r\nN:;;;;\r\nNOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, FullRecordInOrderAndCallerRecordUnchanged) {
  const Json::Value record = fullRecord();
  const Json::Value before = record;
  EXPECT_EQ(write(record), kFullText);
  EXPECT_EQ(record, before);
}

TEST_F(CardWriterTest, IdReplacesOtherWithFreshHeader) {
  Json::Value record = fullRecord();
  record["id"] = "new-name";
  const std::string text = write(record);
  EXPECT_EQ(text.rfind(std::string(kHeader) + "UID:new-name\r\nFN:Doe Jane Q\r\n", 0), 0u) << text;
  EXPECT_EQ(text.find("X-CUSTOM"), std::string::npos);
}

TEST_F(CardWriterTest, UnreadMembersDoNotReachTheText) {
  Json::Value record = fullRecord();
  record.removeMember("resource_name");
  record["tel"][0].removeMember("cust_name");
  record["mail"][0]["cust_name"] = "Gym";
  EXPECT_EQ(write(record), kFullText);
}

TEST_F(CardWriterTest, GroupComesBackOnlyForItsOwnProperty) {
  Json::Value record(Json::objectValue);
  const char* keys[] = {"item1.TEL", "item-2.tel", "item1.EMAIL", "TEL", ".TEL",
                        "it em.TEL", "a.b.TEL",    "item3.TELX",  ""};
  for (const char* key : keys) {
    record["tel"].append(entry("5"));
    record["tel"][record["tel"].size() - 1]["key"] = key;
  }
  record["tel"].append(entry("6"));
  record["tel"][record["tel"].size() - 1]["key"] = 7;
  EXPECT_EQ(write(record),
            "FN:\r\nN:;;;;\r\nitem1.TEL:5\r\nitem-2.TEL:5\r\nTEL:5\r\nTEL:5\r\nTEL:5\r\n"
            "TEL:5\r\nTEL:5\r\nTEL:5\r\nTEL:5\r\nTEL:6\r\nNOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, TypesAndOtherParametersKeepTheLineWhole) {
  Json::Value record(Json::objectValue);
  Json::Value tel = entry("tel:+1-555", {"cell", "a;b", "x:y", "q\"t", ""});
  tel["params"].append("PREF=1");
  tel["params"].append("VALUE=uri");
  tel["params"].append("X-A=\"p;q:r\",s");
  tel["params"].append("CELL");  // the server keeps only TYPE=CELL
  // Nothing a card could hold, or empty: these are left out.
  for (const char* bad : {"", "=x", "X A=1", "X-A=a:b", "X-A=\"open", "X-A=a\"b", "X-A=\"a\"b",
                          "X-A=1\r\nEND:VCARD", "X-A=\x01", "X-B=", "X-B=,"}) {
    tel["params"].append(bad);
  }
  tel["params"].append(5);
  record["tel"].append(tel);
  EXPECT_EQ(write(record),
            "FN:\r\nN:;;;;\r\n"
            "TEL;type=cell;type=\"a;b\";type=\"x:y\";type=qt;PREF=1;VALUE=uri;"
            "X-A=\"p;q:r\",s;TYPE=CELL:tel:+1-555\r\nNOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, StructuredAddressIsWrittenAsItStands) {
  Json::Value record(Json::objectValue);
  record["adr"].append(entry(";Attn: Receiving;1 Loop\\, Suite 5;Cupertino;CA;95014;USA"));
  record["adr"].append(entry("  free text\\typed"));
  record["adr"].append(entry(" ;;lead"));
  EXPECT_EQ(write(record),
            "FN:\r\nN:;;;;\r\n"
            "ADR:;Attn: Receiving;1 Loop\\, Suite 5;Cupertino;CA;95014;USA\r\n"
            "ADR:;;free text\\\\typed;;;;\r\n"
            "ADR: ;;lead\r\n"
            "NOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, NameKeepsPrefixSuffixAndFormattedNameRule) {
  Json::Value record(Json::objectValue);
  record["name"]["family_name"] = "Doe";
  record["name"]["prefix"] = "Dr.";
  record["name"]["suffix"] = "PhD";
  // Without a display name of its own, FN is made of the name parts.
  EXPECT_EQ(write(record), "FN:Doe\r\nN:Doe;;;Dr.;PhD\r\nNOTE:\r\nEND:VCARD\r\n");
  record["name"]["given_name"] = " Jane  ";
  record["name"]["additional_name"] = "Q.";
  EXPECT_EQ(write(record), "FN:Doe Jane Q.\r\nN:Doe; Jane  ;Q.;Dr.;PhD\r\nNOTE:\r\nEND:VCARD\r\n");
  // The card's own display name wins over the parts.
  record["name"]["formatted_name"] = "Dr. Jane Q. Doe, PhD";
  EXPECT_EQ(write(record),
            "FN:Dr. Jane Q. Doe\\, PhD\r\nN:Doe; Jane  ;Q.;Dr.;PhD\r\nNOTE:\r\nEND:VCARD\r\n");

  // No name: the card's own FN, else the organisation's name, else nothing.
  Json::Value company(Json::objectValue);
  company["name"]["formatted_name"] = "Acme Corp";
  company["company"]["org"] = "Acme Inc.;Sales";
  EXPECT_EQ(write(company),
            "FN:Acme Corp\r\nN:;;;;\r\nORG:Acme Inc.;Sales\r\nNOTE:\r\nEND:VCARD\r\n");
  company["name"]["formatted_name"] = "";
  EXPECT_EQ(write(company),
            "FN:Acme Inc.\r\nN:;;;;\r\nORG:Acme Inc.;Sales\r\nNOTE:\r\nEND:VCARD\r\n");
  company["company"]["org"] = "A\\;B;C";
  EXPECT_EQ(write(company), "FN:A\\;B\r\nN:;;;;\r\nORG:A\\;B;C\r\nNOTE:\r\nEND:VCARD\r\n");
  company["company"]["org"] = ";Sales";
  EXPECT_EQ(write(company), "FN:\r\nN:;;;;\r\nORG:;Sales\r\nNOTE:\r\nEND:VCARD\r\n");
  company["name"]["formatted_name"] = "Two\r\nLines";
  EXPECT_EQ(write(company), "FN:Two\\nLines\r\nN:;;;;\r\nORG:;Sales\r\nNOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, BirthdayWrittenWhenAText) {
  Json::Value record(Json::objectValue);
  const std::string without = "FN:\r\nN:;;;;\r\nNOTE:\r\nEND:VCARD\r\n";
  for (const Json::Value& bday : {Json::Value(""), Json::Value(19900501), Json::Value()}) {
    record["bday"] = bday;
    EXPECT_EQ(write(record), without);
  }
  record["bday"] = "1990-05-01";
  EXPECT_EQ(write(record), "FN:\r\nN:;;;;\r\nBDAY:1990-05-01\r\nNOTE:\r\nEND:VCARD\r\n");
  record["bday"] = "1990\r\nX:y";
  EXPECT_EQ(write(record), "FN:\r\nN:;;;;\r\nBDAY:1990\\nX:y\r\nNOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, EmptyCompanyFieldsAndEmptyArraysWriteNoLines) {
  Json::Value record = fullRecord();
  record["company"]["org"] = "";
  record["company"]["title"] = "";
  record["mail"] = Json::Value(Json::arrayValue);
  record["tel"] = Json::Value(Json::arrayValue);
  record["adr"] = Json::Value(Json::arrayValue);
  record.removeMember("url");
  record.removeMember("bday");
  record["note"] = "";
  EXPECT_EQ(write(record),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:abc\r\nX-CUSTOM;x=1:kept\r\n"
            "FN:Doe Jane Q\r\nN:Doe;Jane;Q;;\r\nNOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, EntryWithEmptyDataStillWritesItsLine) {
  Json::Value record(Json::objectValue);
  record["tel"].append(entry("", {"CELL"}));
  record["tel"].append(Json::Value(Json::objectValue));
  EXPECT_EQ(write(record), "FN:\r\nN:;;;;\r\nTEL;type=CELL:\r\nTEL:\r\nNOTE:\r\nEND:VCARD\r\n");
}

// No value can start a line of its own: each CR LF, lone CR or lone LF
// becomes the two characters "\n". "other" alone is written as it is.
TEST_F(CardWriterTest, LineBreaksInValuesBecomeEscapes) {
  Json::Value record(Json::objectValue);
  record["other"] = "BEGIN:VCARD\r\nUID:x\r\n";
  record["name"]["family_name"] = "a\r\nb";
  record["name"]["given_name"] = "c\rd";
  record["name"]["additional_name"] = "e\nf";
  record["company"]["org"] = "o\r\r\n";
  record["company"]["title"] = "\n\nt";
  record["mail"].append(entry("m\r\nEND:VCARD", {"HO\nME"}));
  record["tel"].append(entry("1\n2"));
  record["adr"].append(entry("  s\\\r\nt", {"W\rK"}));
  record["url"].append(entry("u\r"));
  record["note"] = "line1\nline2\r\nEND:VCARD\r\nBEGIN:VCARD";
  EXPECT_EQ(write(record),
            "BEGIN:VCARD\r\nUID:x\r\n"
            "FN:a\\nb c\\nd e\\nf\r\n"
            "N:a\\nb;c\\nd;e\\nf;;\r\n"
            "ORG:o\\n\\n\r\n"
            "TITLE:\\n\\nt\r\n"
            "EMAIL;type=HO\\nME:m\\nEND:VCARD\r\n"
            "TEL:1\\n2\r\n"
            "ADR;type=W\\nK:;;s\\\\\\nt;;;;\r\n"
            "URL:u\\n\r\n"
            "NOTE:line1\\nline2\\nEND:VCARD\\nBEGIN:VCARD\r\n"
            "END:VCARD\r\n");
}

TEST_F(CardWriterTest, IdWithLineBreakCannotAddALine) {
  Json::Value record(Json::objectValue);
  record["id"] = "u1\r\nEND:VCARD";
  EXPECT_EQ(write(record),
            std::string(kHeader) + "UID:u1\\nEND:VCARD\r\nFN:\r\nN:;;;;\r\nNOTE:\r\nEND:VCARD\r\n");
}

// Members of other JSON types read as absent; the card is still written.
TEST_F(CardWriterTest, MembersOfUnexpectedTypesReadAsAbsent) {
  Json::Value record(Json::objectValue);
  record["id"] = 42;
  record["other"] = "BEGIN:VCARD\r\n";
  record["name"]["family_name"] = 7;
  record["name"]["given_name"] = Json::Value(Json::arrayValue);
  record["name"]["additional_name"] = true;
  record["company"] = "Acme";
  record["mail"] = Json::Value(Json::objectValue);
  record["mail"]["data"] = "x@y";
  record["tel"].append("+1 555");
  record["tel"].append(5);
  record["tel"].append(Json::Value());
  Json::Value odd(Json::objectValue);
  odd["data"] = Json::Value(Json::objectValue);
  odd["type"].append(1);
  odd["type"].append(Json::Value(Json::arrayValue));
  odd["type"].append("CELL");
  record["tel"].append(odd);
  Json::Value typeNotArray = entry("1 Main");
  typeNotArray["type"] = "HOME";
  record["adr"].append(typeNotArray);
  record["adr"].append(entry("2 Main"));
  record["adr"][1]["data"] = 3.5;
  record["url"] = "https://x";
  record["note"] = Json::Value(Json::objectValue);
  EXPECT_EQ(write(record),
            "BEGIN:VCARD\r\nFN:\r\nN:;;;;\r\nTEL;type=CELL:\r\nADR:;;1 Main;;;;\r\n"
            "ADR:;;;;;;\r\nNOTE:\r\nEND:VCARD\r\n");
}

TEST_F(CardWriterTest, RecordThatIsNoObjectGivesTheEmptyCard) {
  const std::string empty = "FN:\r\nN:;;;;\r\nNOTE:\r\nEND:VCARD\r\n";
  EXPECT_EQ(write(Json::Value()), empty);
  EXPECT_EQ(write(Json::Value("text")), empty);
  EXPECT_EQ(write(Json::Value(12)), empty);
  Json::Value array(Json::arrayValue);
  array.append(fullRecord());
  EXPECT_EQ(write(array), empty);
}

TEST_F(CardWriterTest, EmbeddedNulInAddressEndsIt) {
  Json::Value record(Json::objectValue);
  record["adr"].append(entry(std::string("a\0b", 3)));
  record["note"] = std::string("n\0m", 3);
  const char expected[] = "FN:\r\nN:;;;;\r\nADR:;;a;;;;\r\nNOTE:n\0m\r\nEND:VCARD\r\n";
  EXPECT_EQ(write(record), std::string(expected, sizeof expected - 1));
}

TEST_F(CardWriterTest, FormulateStrDropsLeadingBlanksAndDoublesBackslashes) {
  EXPECT_EQ(handler.formulateStr("   a b\\c\\\\"), "a b\\\\c\\\\\\\\");
  EXPECT_EQ(handler.formulateStr("\t a"), "\t a");  // only spaces are blanks
  EXPECT_EQ(handler.formulateStr("    "), "");
  EXPECT_EQ(handler.formulateStr(""), "");
  EXPECT_EQ(handler.formulateStr("\\"), "\\\\");
  EXPECT_EQ(handler.formulateStr(" a\r\n"), "a\r\n");  // line breaks are the writer's concern
  EXPECT_EQ(handler.formulateStr(nullptr), "");
}

}  // namespace

namespace {

// A record from the page with typed texts in every single-line field.
Json::Value typedRecord(const std::string& text) {
  Json::Value record(Json::objectValue);
  for (const char* part : {"family_name", "given_name", "additional_name", "prefix"}) {
    record["name"][part] = text;
  }
  record["company"]["org"] = text;
  record["company"]["title"] = text;
  record["bday"] = text;
  record["note"] = text;
  return record;
}

TEST(CardWriterText, CommasSemicolonsAndBackslashesAreEscapedOnce) {
  const std::string line = orva_vcard::writeCard(typedRecord("Acme, Inc.; C:\\Temp\\new"));
  const std::string text = "Acme\\, Inc.\\; C:\\\\Temp\\new";
  EXPECT_EQ(line, "FN:" + text + " " + text + " " + text + "\r\nN:" + text + ";" + text + ";" +
                      text + ";" + text + ";\r\nORG:Acme\\, Inc.; C:\\\\Temp\\new\r\nTITLE:" +
                      text + "\r\nBDAY:" + text +
                      // The record's note carries line breaks as LF: "\n" there is text.
                      "\r\nNOTE:Acme\\, Inc.\\; C:\\\\Temp\\\\new\r\nEND:VCARD\r\n");
  // Read and written back (as edit_card does), nothing changes.
  Json::Value read;
  orva_vcard::readCardText("BEGIN:VCARD\r\nVERSION:3.0\r\n" + line, Json::Value(), read);
  read["id"] = "";
  EXPECT_EQ(orva_vcard::writeCard(read), "BEGIN:VCARD\r\nVERSION:3.0\r\n" + line);
}

TEST(CardWriterText, AnOrganisationsEmptyLastUnitsAreNotWritten) {
  // The reader takes one closing ';' off: written, they would lose one per edit.
  for (const auto& [org, line] :
       std::vector<std::pair<std::string, std::string>>{{"Acme;;", "ORG:Acme\r\n"},
                                                        {"Acme\\;", "ORG:Acme\\;\r\n"},
                                                        {"Acme\\\\;", "ORG:Acme\\\\\r\n"},
                                                        {";Sales", "ORG:;Sales\r\n"},
                                                        {";;", ""}}) {
    Json::Value record(Json::objectValue);
    record["company"]["org"] = org;
    const std::string text = orva_vcard::writeCard(record);
    if (line.empty()) {
      EXPECT_EQ(text.find("ORG"), std::string::npos) << org;
    } else {
      EXPECT_NE(text.find("\r\n" + line), std::string::npos) << org << "\n" << text;
    }
  }
}

TEST(CardWriterText, RepeatedFieldsFollowTheirFieldInTheirOrder) {
  Json::Value record(Json::objectValue);
  record["name"]["formatted_name"] = "Ann";
  record["company"]["org"] = "First";
  record["company"]["title"] = "T1";
  record["note"] = "n1";
  record["other"] =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u\r\nORG:Second\r\nX-A:b\r\n c\r\nwork.ORG:Third\r\n"
      "NOTE:n2\r\n more\r\nBDAY;ALTID=1:--0102\r\nTITLE:T2\r\n";
  EXPECT_EQ(orva_vcard::writeCard(record),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u\r\nX-A:b\r\n c\r\nFN:Ann\r\nN:;;;;\r\n"
            "ORG:First\r\nORG:Second\r\nwork.ORG:Third\r\nTITLE:T1\r\nTITLE:T2\r\n"
            "BDAY;ALTID=1:--0102\r\nNOTE:n1\r\nNOTE:n2\r\n more\r\nEND:VCARD\r\n");
}

TEST(CardWriterText, SingleLinesKeepTheirGroupAndParameters) {
  Json::Value record(Json::objectValue);
  record["name"]["family_name"] = "M";
  record["bday"] = "1990-01-02";
  record["company"]["org"] = "Acme";
  record["field_lines"] = Json::Value(Json::objectValue);
  record["field_lines"]["bday"]["params"].append("VALUE=date");
  record["field_lines"]["org"]["group"] = "WORK";
  record["field_lines"]["name"]["params"].append("LANGUAGE=de");
  // What no card could hold is left out rather than break the line.
  record["field_lines"]["note"]["group"] = "bad group";
  record["field_lines"]["note"]["params"].append("X=a:b");
  EXPECT_EQ(orva_vcard::writeCard(record),
            "FN:M\r\nN;LANGUAGE=de:M;;;;\r\nWORK.ORG:Acme\r\nBDAY;VALUE=date:1990-01-02\r\n"
            "NOTE:\r\nEND:VCARD\r\n");
}

}  // namespace
