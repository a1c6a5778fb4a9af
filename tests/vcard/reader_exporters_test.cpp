// Cards as real address books write them, read whole.
#include <gtest/gtest.h>

#include "tests/vcard/reader_helpers.h"

namespace {

using reader_test::card;
using reader_test::json;
using reader_test::read;

const char* const kPhotoLines[] = {
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAMCAgICAgMCAgIDAwMDBAYE",
    " BAQEBAgGBgUGCQgKCgkICQkKDA8MCgsOCwkJDRENDg8QEBEQCgwSExIQEw8QEBD/2wBDAQMDAwQD",
    " BAgEBAgQCwkLEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBD/",
};

TEST(ReaderExporters, AppleGroupedItemsLabelsAndFoldedPhoto) {
  const Json::Value record =
      read(card({"BEGIN:VCARD",
                 "VERSION:3.0",
                 "PRODID:-//Apple Inc.//macOS 13.4//EN",
                 "N:Appleseed;Johnny;;;",
                 "FN:Johnny Appleseed",
                 "ORG:Apple Inc.;",
                 "TITLE:Engineer",
                 "item1.EMAIL;type=INTERNET;type=pref:johnny@example.com",
                 "item1.X-ABLabel:_$!<Other>!$_",
                 "TEL;type=CELL;type=VOICE;type=pref:+1 (408) 555-0100",
                 "item2.TEL:+1 408 555 0199",
                 "item2.X-ABLabel:Pager",
                 "item3.ADR;type=HOME;type=pref:;;1 Infinite Loop;Cupertino;CA;95014;United States",
                 "item3.X-ABADR:us",
                 "item4.URL;type=pref:https://www.example.com",
                 "item4.X-ABLabel:_$!<HomePage>!$_",
                 "NOTE:Met at WWDC\\nLikes apples",
                 "BDAY;VALUE=date:1976-04-01",
                 kPhotoLines[0],
                 kPhotoLines[1],
                 kPhotoLines[2],
                 "END:VCARD"}));
  Json::Value fields = record;
  fields.removeMember("other");
  EXPECT_EQ(fields, json(R"({
      "name":{"family_name":"Appleseed","given_name":"Johnny","additional_name":""},
      "company":{"org":"Apple Inc.","title":"Engineer"},
      "mail":[{"key":"item1.EMAIL","cust_name":"Other","type":["INTERNET","pref"],
               "data":"johnny@example.com"}],
      "tel":[{"key":"TEL","cust_name":"TEL","type":["CELL","VOICE","pref"],
              "data":"+1 (408) 555-0100"}],
      "adr":[{"key":"item3.ADR","cust_name":"us","type":["HOME","pref"],
              "data":";;1 Infinite Loop;Cupertino;CA;95014;United States"}],
      "url":[{"key":"item4.URL","cust_name":"HomePage","type":["pref"],
              "data":"https://www.example.com"}],
      "note":"Met at WWDC\nLikes apples"})"));
  const std::string other = record["other"].asString();
  EXPECT_EQ(other,
            std::string("BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Apple Inc.//macOS 13.4//EN\r\n"
                        "item1.X-ABLabel:_$!<Other>!$_\r\nitem2.TEL:+1 408 555 0199\r\n"
                        "item2.X-ABLabel:Pager\r\nitem3.X-ABADR:us\r\n"
                        "item4.X-ABLabel:_$!<HomePage>!$_\r\nBDAY;VALUE=date:1976-04-01\r\n") +
                kPhotoLines[0] + "\r\n" + kPhotoLines[1] + "\r\n" + kPhotoLines[2] + "\r\n");
}

TEST(ReaderExporters, GoogleWithEscapedColonAndFoldedNote) {
  const Json::Value record = read(card(
      {"BEGIN:VCARD", "VERSION:3.0", "FN:Jane Roe", "N:Roe;Jane;;;",
       "EMAIL;TYPE=INTERNET;TYPE=HOME:jane@example.com", "TEL;TYPE=CELL:+44 7700 900123",
       "ADR;TYPE=HOME:;;10 Downing St;London;;SW1A 2AA;UK", "ORG:Example Ltd",
       "item1.URL:http\\://jane.example.com", "item1.X-ABLabel:", "NOTE:A long note that was fo",
       " lded by the exporter", "CATEGORIES:myContacts", "END:VCARD"},
      "\n"));
  EXPECT_EQ(record["mail"][0]["type"], json(R"(["INTERNET","HOME"])"));
  EXPECT_EQ(record["tel"][0]["data"], "+44 7700 900123");
  EXPECT_EQ(record["adr"][0]["data"], ";;10 Downing St;London;;SW1A 2AA;UK");
  EXPECT_EQ(record["url"][0], json(R"({"key":"item1.URL","cust_name":"",
                                       "data":"http\\://jane.example.com"})"));
  EXPECT_EQ(record["company"]["org"], "Example Ltd");
  // Raw joining keeps the fold blank.
  EXPECT_EQ(record["note"], "A long note that was fo\n lded by the exporter");
  EXPECT_EQ(record["other"],
            "BEGIN:VCARD\r\nVERSION:3.0\r\nitem1.X-ABLabel:\r\nCATEGORIES:myContacts\r\n");
}

TEST(ReaderExporters, AndroidVcard21BareParameters) {
  const Json::Value record =
      read(card({"BEGIN:VCARD", "VERSION:2.1", "N:Smith;Bob;;;", "FN:Bob Smith",
                 "TEL;CELL:+49 151 1234567", "TEL;HOME;VOICE:030 123456",
                 "EMAIL;HOME:bob@example.de", "ADR;HOME:;;Hauptstr. 1;Berlin;;10115;Germany",
                 "NOTE;ENCODING=QUOTED-PRINTABLE:=4E=6F", "END:VCARD"}));
  EXPECT_EQ(record["tel"], json(R"([{"key":"TEL","cust_name":"TEL","data":"+49 151 1234567"},
                                    {"key":"TEL","cust_name":"TEL","data":"030 123456"}])"));
  EXPECT_EQ(record["mail"][0]["data"], "bob@example.de");
  EXPECT_FALSE(record["adr"][0].isMember("type"));
  EXPECT_EQ(record["note"], "");
  EXPECT_EQ(record["other"],
            "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:=4E=6F\r\n");
}

TEST(ReaderExporters, Vcard40WithDataUriPhoto) {
  const Json::Value record = read(card(
      {"BEGIN:VCARD", "VERSION:4.0", "FN:Alex Kim", "N:Kim;Alex;;;",
       "TEL;VALUE=uri;TYPE=\"voice,cell\":tel:+1-555-555-5555", "EMAIL;TYPE=work:alex@example.com",
       "ADR;TYPE=home;LABEL=\"1 Main St\\nSpringfield\":;;1 Main St;Springfield;IL;62701;USA",
       "URL:https://alex.example.com",
       "PHOTO:data:image/jpeg;base64,/9j/4AAQSkZJRg==", "BDAY:--0415", "END:VCARD"}));
  EXPECT_EQ(record["tel"][0]["data"], "+1-555-555-5555");
  EXPECT_EQ(record["tel"][0]["type"], json(R"(["\"voice"])"));
  EXPECT_EQ(record["mail"][0]["type"], json(R"(["work"])"));
  EXPECT_EQ(record["adr"][0]["data"], ";;1 Main St;Springfield;IL;62701;USA");
  EXPECT_EQ(record["url"][0]["data"], "https://alex.example.com");
  EXPECT_EQ(record["bday"], "--0415");
  EXPECT_EQ(record["other"],
            "BEGIN:VCARD\r\nVERSION:4.0\r\n"
            "PHOTO:data:image/jpeg;base64,/9j/4AAQSkZJRg==\r\n");
}

}  // namespace
