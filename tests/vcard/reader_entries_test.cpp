// TEL, EMAIL, URL and ADR lines into property entries.
#include <gtest/gtest.h>

#include "tests/vcard/reader_helpers.h"

namespace {

using reader_test::card;
using reader_test::json;
using reader_test::read;

TEST(ReaderTel, TypesKeepTheirCaseAndOrder) {
  EXPECT_EQ(read("TEL;type=CELL;TYPE=voice;Type=pref:+1 555 0100")["tel"],
            json(R"([{"key":"TEL","cust_name":"TEL","type":["CELL","voice","pref"],
                      "data":"+1 555 0100"}])"));
}

TEST(ReaderTel, LastPlainTokenIsTheValue) {
  // vCard 2.1 writes bare parameters; they give way to the value after them.
  EXPECT_EQ(read("TEL;CELL;VOICE:+15550100")["tel"][0],
            json(R"({"key":"TEL","cust_name":"TEL","data":"+15550100"})"));
  // ',' separates in TEL lines: only the part after the last one stays.
  EXPECT_EQ(read("TEL;type=HOME:555,0100")["tel"][0]["data"], "0100");
  // vCard 4.0 uri value: the scheme is one more token.
  EXPECT_EQ(read("TEL;VALUE=uri;TYPE=cell:tel:+1-555-0100")["tel"][0]["data"], "+1-555-0100");
}

TEST(ReaderTel, NoValueNoEntry) {
  const Json::Value record = read(card({"TEL;type=CELL:", "TEL;type=HOME;type=VOICE::", ";TEL;"}));
  EXPECT_EQ(record["tel"], Json::Value(Json::arrayValue));
  EXPECT_EQ(record["other"], "");
}

TEST(ReaderEmail, CommasStayAndTypesAreOptional) {
  EXPECT_EQ(read("EMAIL;INTERNET:a,b@example.com")["mail"],
            json(R"([{"key":"EMAIL","cust_name":"EMAIL","data":"a,b@example.com"}])"));
  const Json::Value mail = read("EMAIL;type=INTERNET;type=WORK;type=pref:jo@example.com")["mail"];
  EXPECT_EQ(mail[0]["type"], json(R"(["INTERNET","WORK","pref"])"));
}

TEST(ReaderUrl, EveryShapeTheWriterProducesKeepsItsAddress) {
  const Json::Value url = read(card({
      "URL:https://example.com/a?b=c",
      "URL;type=WORK:http://example.com:8080/x",
      "URL;type=HOME;type=pref:https://example.org",
      "item2.URL;type=pref:http://blog.example.net",
      "URL;VALUE=uri;type=x-blog:http://a.example",
      "URL;type=WORK:",
  }))["url"];
  EXPECT_EQ(url, json(R"([
      {"key":"URL","cust_name":"URL","data":"https://example.com/a?b=c"},
      {"key":"URL","cust_name":"URL","type":["WORK"],"data":"http://example.com:8080/x"},
      {"key":"URL","cust_name":"URL","type":["HOME","pref"],"data":"https://example.org"},
      {"key":"item2.URL","cust_name":null,"type":["pref"],"data":"http://blog.example.net"},
      {"key":"URL","cust_name":"URL","type":["x-blog"],"data":"http://a.example"}])"));
}

TEST(ReaderUrl, ValueIsTakenUnchanged) {
  EXPECT_EQ(read("URL;;type=a;;:x;y:z")["url"][0],
            json(R"({"key":"URL","cust_name":"URL","type":["a"],"data":"x;y:z"})"));
}

TEST(ReaderAddress, StructuredValueStaysOneText) {
  EXPECT_EQ(read("item1.ADR;type=HOME;type=pref;LABEL=x:;;1 Main St;Town;ST;12345;USA")["adr"],
            json(R"([{"key":"item1.ADR","cust_name":null,"type":["HOME","pref"],
                      "data":";;1 Main St;Town;ST;12345;USA"}])"));
  // The value ends at the next colon.
  EXPECT_EQ(read("ADR;type=WORK:;;Suite 5: 2 High St")["adr"][0]["data"], ";;Suite 5");
  // vCard 2.1 parameters are not types.
  EXPECT_EQ(read("ADR;HOME:;;3 Low Rd")["adr"][0],
            json(R"({"key":"ADR","cust_name":"ADR","data":";;3 Low Rd"})"));
}

TEST(ReaderAddress, NoValueNoEntry) {
  EXPECT_FALSE(read(card({"ADR;type=HOME:", "ADR;type=HOME", "ADR;type=WORK:::"})).isMember("adr"));
}

}  // namespace
