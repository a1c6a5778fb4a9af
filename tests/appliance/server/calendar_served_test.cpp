// Calendar files through the host's import and export into the real
// server's storage, read back by python3-caldav as a CalDAV client reads
// them: one item per UID with its overrides and time zones, bad components
// skipped and counted, the same file twice stored once, an export imported
// into a new calendar item for item equal.
#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

const std::string kIcsData = std::string(ORVA_SOURCE_DIR) + "/tests/data/ics/";

class CalendarFiles : public ServerTest {
 protected:
  std::string host() const {
    return std::string(ORVA_BIN_DIR) + "/orva-webapi --root " + root.path() + " ";
  }

  Json::Value importFile(const std::string& calendar, const std::string& path) const {
    return orva_test::parseJson(
        run(host() + "import-calendar alice " + calendar + " " + quote(path)).out);
  }

  int makeCalendar(int http, const std::string& name) const {
    return request(httpBase(http) + "/alice/" + name + "/", "-u alice:alice-pw -X MKCALENDAR").code;
  }

  Result readBack(int http, const std::string& name) const {
    return run(std::string(ORVA_SOURCE_DIR) + "/tests/appliance/server/calendar_with_caldav.py " +
               httpBase(http) + " alice alice-pw " + name);
  }
};

TEST_F(CalendarFiles, AnIcsFileImportsItemByItemAndExportsWhole) {
  const int http = freePort(), https = freePort();
  ASSERT_EQ(set(false, false, http, https)["success"], true);
  ASSERT_EQ(makeCalendar(http, "imported"), 201);
  const Json::Value first = importFile("imported", kIcsData + "mixed.ics");
  ASSERT_EQ(first["success"], true) << orva_test::toJson(first);
  EXPECT_EQ(first["data"]["stored"], 7) << orva_test::toJson(first);
  EXPECT_EQ(first["data"]["merged"], 1);
  EXPECT_EQ(first["data"]["skipped"], 3);
  const Json::Value again = importFile("imported", kIcsData + "mixed.ics");
  EXPECT_EQ(again["data"]["stored"], 0) << orva_test::toJson(again);
  EXPECT_FALSE(again["data"].isMember("update_candidates")) << orva_test::toJson(again);

  const Result seen = readBack(http, "imported");
  ASSERT_EQ(seen.status, 0) << seen.err;
  EXPECT_EQ(orva_test::parseJson(seen.out),
            orva_test::parseJson(orva_test::readFile(kIcsData + "mixed.json")))
      << seen.out;

  // The export, imported into a new calendar, gives the same items.
  const std::string exported = root.at("/exported.ics");
  const Result export_ = run(host() + "export-calendar alice imported");
  ASSERT_EQ(export_.status, 0) << export_.err;
  ASSERT_TRUE(orva_test::writeFile(exported, export_.out));
  ASSERT_EQ(makeCalendar(http, "copy"), 201);
  const Json::Value copied = importFile("copy", exported);
  EXPECT_EQ(copied["data"]["stored"], 7) << orva_test::toJson(copied);
  EXPECT_EQ(copied["data"]["skipped"], 0);
  const Result copy = readBack(http, "copy");
  EXPECT_EQ(copy.out, seen.out);

  // An item changed elsewhere and imported again is an update to choose.
  std::string changed = orva_test::readFile(exported);
  const std::string from = "SUMMARY:Call with New York office";
  changed.replace(changed.find(from), from.size(), "SUMMARY:Call with the New York office");
  ASSERT_TRUE(orva_test::writeFile(exported, changed));
  const Json::Value update = importFile("copy", exported);
  EXPECT_EQ(orva_test::toJson(update["data"]["update_candidates"][0]["uid"]),
            "\"call-ny@example.org\"")
      << orva_test::toJson(update);
}

}  // namespace
}  // namespace server_test
