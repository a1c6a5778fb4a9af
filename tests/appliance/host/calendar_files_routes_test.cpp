// The calendar file routes over HTTP: an .ics upload into a calendar, the
// calendar back as one file, and a changed entry applied only when asked.
#include <gtest/gtest.h>

#include <string>

#include "tests/appliance/host/serve_process.h"
#include "tests/support/temp_root.h"

namespace {

using host_test::clientFor;
using host_test::ServerProcess;

const std::string kIcs =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\n"
    "BEGIN:VEVENT\r\nUID:one@t\r\nDTSTAMP:20240101T000000Z\r\nDTSTART:20240102T100000Z\r\n"
    "SUMMARY:First\r\nEND:VEVENT\r\n"
    "BEGIN:VTODO\r\nUID:two@t\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Second\r\nEND:VTODO\r\n"
    "END:VCALENDAR\r\n";

class CalendarFileRoutes : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(root_.path());
    ASSERT_GT(server_->port(), 0) << server_->banner();
    token_ = host_test::serverToken(root_);
    client_ = clientFor(server_->port());
    ASSERT_EQ(post("users/add", R"({"user":"dan","password":"pw"})")->status, 200);
  }

  httplib::Result post(const std::string& route, const std::string& body) {
    return client_->Post(("/webapi/" + route).c_str(), {{"Authorization", "Bearer " + token_}},
                         body, "application/json");
  }

  Json::Value upload(const std::string& ics, const std::string& apply = "") {
    httplib::MultipartFormDataItems form = {{"user", "dan", "", ""},
                                            {"name", "calendar", "", ""},
                                            {"file", ics, "c.ics", "text/calendar"}};
    if (!apply.empty()) form.push_back({"apply", apply, "", ""});
    auto res =
        client_->Post("/webapi/calendars/import", {{"Authorization", "Bearer " + token_}}, form);
    return res ? orva_test::parseJson(res->body) : Json::Value();
  }

  orva_test::TempRoot root_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<httplib::Client> client_;
  std::string token_;
};

TEST_F(CalendarFileRoutes, ImportExportAndUpdatesAppliedWhenAsked) {
  const Json::Value first = upload(kIcs);
  EXPECT_EQ(first["data"]["stored"], 2) << orva_test::toJson(first);
  auto exported = post("calendars/export", R"({"user":"dan","name":"calendar"})");
  ASSERT_EQ(exported->status, 200);
  EXPECT_EQ(exported->get_header_value("Content-Type"), "text/calendar; charset=utf-8");
  EXPECT_NE(exported->body.find("SUMMARY:First\r\n"), std::string::npos) << exported->body;
  EXPECT_NE(exported->body.find("BEGIN:VTODO\r\n"), std::string::npos);

  std::string changed = kIcs;
  changed.replace(changed.find("First"), 5, "Moved");
  const Json::Value asked = upload(changed);
  EXPECT_EQ(asked["data"]["update_candidates"][0]["uid"], "one@t") << orva_test::toJson(asked);
  EXPECT_EQ(asked["data"]["duplicates"], 1);
  const Json::Value applied = upload(changed, R"(["one@t"])");
  EXPECT_EQ(applied["data"]["updated"], 1) << orva_test::toJson(applied);
  exported = post("calendars/export", R"({"user":"dan","name":"calendar"})");
  EXPECT_NE(exported->body.find("SUMMARY:Moved\r\n"), std::string::npos) << exported->body;

  // Files that are not calendars, and calendars that are not there.
  EXPECT_EQ(upload("BEGIN:VCARD\r\nFN:x\r\nEND:VCARD\r\n")["error"]["code"], 100);
  EXPECT_EQ(post("calendars/export", R"({"user":"dan","name":"contacts"})")->status, 400);
  EXPECT_EQ(post("calendars/export", R"({"user":"dan","name":"none"})")->status, 404);
}

}  // namespace
