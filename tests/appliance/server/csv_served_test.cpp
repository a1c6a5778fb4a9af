// CSV address books as Google and Outlook write them (several languages,
// UTF-8, UTF-16 and Windows-1252), imported through the host and read back
// from the real server by vobject, as a CardDAV client reads them.
#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

const std::string kCsvData = std::string(ORVA_SOURCE_DIR) + "/tests/data/csv/";

struct CsvFile {
  const char* name;
  const char* columns;  // csv_columns:= JSON, or "" to go by the header
  const char* answer;   // the import's answer data
};

const CsvFile kFiles[] = {
    {"google_contacts.csv", "",
     R"({"csv_columns":"google","duplicates":0,"rows_unreadable":1,)"
     R"("rows_unreadable_lines":[7],"skipped":0,"stored":4})"},
    {"outlook_english.csv", "",
     R"({"csv_columns":"outlook","duplicates":0,"rows_unreadable":0,"skipped":0,"stored":2})"},
    {"outlook_german_windows1252.csv", "",
     R"({"csv_columns":"outlook","duplicates":0,"rows_unreadable":0,"skipped":0,"stored":2})"},
    {"outlook_french_utf16.csv", "",
     R"({"csv_columns":"outlook","duplicates":0,"rows_unreadable":0,"skipped":0,"stored":1})"},
    {"mapped_tabs.csv", R"(["full_name","email:work","phone:cell","company","note"])",
     R"({"csv_columns":"chosen","duplicates":0,"rows_unreadable":0,"skipped":0,"stored":2})"},
};

TEST_F(ServerTest, CsvAddressBooksImportAndServeWhatTheirColumnsHold) {
  const int http = freePort(), https = freePort();
  ASSERT_EQ(set(false, false, http, https)["success"], true);
  for (const CsvFile& file : kFiles) {
    std::string params =
        "user=alice " + quote("file_tmp=" + kCsvData + file.name) + " file=" + file.name;
    if (*file.columns != '\0') params += " " + quote(std::string("csv_columns:=") + file.columns);
    const Json::Value imported = contacts("import_cards", params);
    EXPECT_EQ(orva_test::toJson(imported["data"]), file.answer)
        << file.name << ": " << orva_test::toJson(imported);
  }
  // A second import of the same file stores nothing again.
  const Json::Value again = contacts(
      "import_cards", "user=alice " + quote("file_tmp=" + kCsvData + "outlook_english.csv") +
                          " file=outlook_english.csv");
  EXPECT_EQ(again["data"]["stored"], 0) << orva_test::toJson(again);
  EXPECT_EQ(again["data"]["duplicates"], 2) << orva_test::toJson(again);

  const Answer seen = report(httpBase(http));
  ASSERT_EQ(seen.code, 207) << seen.body;
  const std::string body = root.at("/.report.xml");
  ASSERT_TRUE(orva_test::writeFile(body, seen.body));
  const Result read =
      run(std::string(ORVA_SOURCE_DIR) + "/tests/appliance/server/cards_with_vobject.py <" + body);
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(orva_test::parseJson(read.out),
            orva_test::parseJson(orva_test::readFile(kCsvData + "served.json")))
      << read.out;
}

// A header of no known export is not guessed at: nothing is stored until
// the columns are chosen; a file without a name, e-mail or phone column is
// refused; the preview shows the first cards and stores nothing.
TEST_F(ServerTest, CsvWithUnknownColumnsWaitsForTheirChoice) {
  const std::string file = quote("file_tmp=" + kCsvData + "mapped_tabs.csv") + " file=x.csv";
  const Json::Value unknown = contacts("import_cards", "user=alice " + file);
  EXPECT_EQ(unknown["error"]["code"], 1011);
  EXPECT_NE(unknown["error"]["detail"].asString().find("choose what each CSV column holds"),
            std::string::npos)
      << orva_test::toJson(unknown);
  const Json::Value noName =
      contacts("import_cards",
               "user=alice " + file + " " + quote(R"(csv_columns:=["","","","company","note"])"));
  EXPECT_NE(noName["error"]["detail"].asString().find("no CSV column holds a name"),
            std::string::npos)
      << orva_test::toJson(noName);
  const Json::Value preview = contacts("import_cards", "user=alice " + file + " preview:=true");
  ASSERT_EQ(preview["success"], true) << orva_test::toJson(preview);
  EXPECT_EQ(orva_test::toJson(preview["data"]["columns"]),
            R"(["full_name","email","phone","",""])");
  EXPECT_EQ(preview["data"]["cards"][0]["name"]["formatted_name"], "Zo\xC3\xAB Quinn");
  EXPECT_EQ(preview["data"]["rows"].size(), 2u);
  EXPECT_EQ(contacts("list_cards", "user=alice")["data"]["cards"].size(), 0u);
}

}  // namespace
}  // namespace server_test
