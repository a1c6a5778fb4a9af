// edit_card writes through the store's gate: a line in "other" that the
// CardDAV server could not load (and so would fail the whole book for every
// client) makes the edit fail with 1011 and leaves the stored card as it was.
#include <gtest/gtest.h>

#include <string>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

TEST(EditThroughGate, ALineTheServerRefusesInOtherFailsTheEditAndKeepsTheCard) {
  orva_test::TempRoot root(true);
  const std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nFN:Bob\r\nEND:VCARD\r\n";
  DBHandler store;
  store.SetupUserBasicInfo("bob");
  const std::string guid = store.GetGUID("bob");
  ASSERT_TRUE(store.AddCard(guid, "c1", text));

  const std::string head = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\n";
  for (const char* line :
       {"PHOTO;ENCODING=b:A\r\n", "PHOTO;ENCODING=BASE64:QUJD\r\n", "KEY;ENCODING=binary:QUJD\r\n",
        "PROFILE:VCard\r\n", "X-messaging/xmpp-All:bob@example.org\r\n", "NOTE:a\fb\r\n",
        "item1.CATEGORIES:x\r\n", "PRODID:a\r\nPRODID:b\r\n"}) {
    Json::Value record(Json::objectValue);
    record["resource_name"] = "c1";
    record["name"]["family_name"] = "Roe";
    record["name"]["given_name"] = "Bob";
    record["name"]["additional_name"] = "";
    record["other"] = head + line;
    Json::Value params(Json::objectValue);
    params["user"] = "bob";
    params["card"] = record;
    const ORVA::APIResponse response =
        orva_test::callHandler(&ContactAndCalendarHandler::editCard, params);
    EXPECT_EQ(response.ErrorCode(), 1011) << line;
    std::string stored, version;
    ASSERT_TRUE(store.GetCard(guid, "c1", stored, version));
    EXPECT_EQ(stored, text) << line;
  }
}

}  // namespace
