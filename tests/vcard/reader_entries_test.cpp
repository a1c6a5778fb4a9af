// TEL, EMAIL, URL and ADR lines into property entries.
#include <gtest/gtest.h>

#include "tests/vcard/reader_helpers.h"

namespace {

using reader_test::card;
using reader_test::json;
using reader_test::read;

TEST(ReaderTel, TypesKeepTheirCaseAndOrderHoweverListed) {
  EXPECT_EQ(read("TEL;type=CELL;TYPE=voice;Type=pref:+1 555 0100")["tel"],
            json(R"([{"key":"TEL","cust_name":"TEL","type":["CELL","voice","pref"],
                      "data":"+1 555 0100"}])"));
  // One element per listed value, quoted or not, quotes removed.
  EXPECT_EQ(read("TEL;TYPE=CELL,VOICE,pref:1")["tel"][0]["type"],
            json(R"(["CELL","VOICE","pref"])"));
  EXPECT_EQ(read("TEL;TYPE=\"cell,voice\":1")["tel"][0]["type"], json(R"(["cell","voice"])"));
  EXPECT_EQ(read("TEL;TYPE=\"a;b:c\":1")["tel"][0]["type"], json(R"(["a;b:c"])"));
  // An empty list gives no type at all.
  EXPECT_FALSE(read("TEL;TYPE=:1")["tel"][0].isMember("type"));
}

TEST(ReaderTel, ValueIsWholeWhateverItHolds) {
  // Dial pauses and extensions are part of the number.
  EXPECT_EQ(read("TEL;TYPE=WORK:+1 555 555 0142,,7301")["tel"][0]["data"], "+1 555 555 0142,,7301");
  EXPECT_EQ(read("TEL;VALUE=uri;TYPE=cell:tel:+1-555-0100;ext=7")["tel"][0]["data"],
            "tel:+1-555-0100;ext=7");
  // A ':' inside a quoted parameter value does not start the value.
  EXPECT_EQ(read("TEL;X-NOTE=\"call: evenings\":555")["tel"][0],
            json(R"({"key":"TEL","cust_name":"TEL","params":["X-NOTE=\"call: evenings\""],
                     "data":"555"})"));
}

TEST(ReaderTel, NamesWithoutParametersAndInAnyCaseAreRead) {
  const Json::Value record = read(card({"TEL:555", "tel;type=home:556", "item2.Tel:557"}));
  EXPECT_EQ(record["tel"], json(R"([{"key":"TEL","cust_name":"TEL","data":"555"},
      {"key":"tel","cust_name":"TEL","type":["home"],"data":"556"},
      {"key":"item2.Tel","cust_name":null,"data":"557"}])"));
  EXPECT_EQ(record["other"], "");
}

TEST(ReaderTel, OtherParametersAreKeptAsWritten) {
  EXPECT_EQ(read("TEL;PREF=1;TYPE=cell;VALUE=uri;X-A=\"q;r\";CELL;;:tel:1")["tel"][0],
            json(R"({"key":"TEL","cust_name":"TEL","type":["cell","CELL"],
                     "params":["PREF=1","VALUE=uri","X-A=\"q;r\""],"data":"tel:1"})"));
}

TEST(ReaderTel, NoValueNoEntryButTheLineIsKept) {
  const Json::Value record = read(card({"TEL;type=CELL:", "TEL;type=HOME;type=VOICE:"}));
  EXPECT_EQ(record["tel"], Json::Value(Json::arrayValue));
  EXPECT_EQ(record["other"], "TEL;type=CELL:\r\nTEL;type=HOME;type=VOICE:\r\n");
}

TEST(ReaderEmail, CommasStayAndTypesAreOptional) {
  EXPECT_EQ(read("EMAIL:a,b@example.com")["mail"],
            json(R"([{"key":"EMAIL","cust_name":"EMAIL","data":"a,b@example.com"}])"));
  const Json::Value mail = read("EMAIL;type=INTERNET;type=WORK;type=pref:jo@example.com")["mail"];
  EXPECT_EQ(mail[0]["type"], json(R"(["INTERNET","WORK","pref"])"));
}

TEST(ReaderUrl, EveryShapeKeepsItsWholeAddress) {
  const Json::Value url = read(card({
      "URL:https://example.com/a?b=c;d",
      "URL;type=WORK:http://example.com:8080/x",
      "URL;type=HOME;type=pref:https://example.org",
      "item2.URL;type=pref:http://blog.example.net",
      "URL;VALUE=uri;type=x-blog:http://a.example",
  }))["url"];
  EXPECT_EQ(url, json(R"([
      {"key":"URL","cust_name":"URL","data":"https://example.com/a?b=c;d"},
      {"key":"URL","cust_name":"URL","type":["WORK"],"data":"http://example.com:8080/x"},
      {"key":"URL","cust_name":"URL","type":["HOME","pref"],"data":"https://example.org"},
      {"key":"item2.URL","cust_name":null,"type":["pref"],"data":"http://blog.example.net"},
      {"key":"URL","cust_name":"URL","type":["x-blog"],"params":["VALUE=uri"],
       "data":"http://a.example"}])"));
}

TEST(ReaderUrl, OnlyTheUrlPropertyIsAWebAddress) {
  // A photo given by reference, or a property whose name ends in URL, is not.
  const Json::Value record = read(card({"PHOTO;VALUE=URL:data:image/jpeg;base64,AAAA",
                                        "X-SOCIAL-URL:https://a", "X-ME;URL:https://b"}));
  EXPECT_FALSE(record.isMember("url"));
  EXPECT_EQ(record["other"],
            "PHOTO;VALUE=URL:data:image/jpeg;base64,AAAA\r\nX-SOCIAL-URL:https://a\r\n"
            "X-ME;URL:https://b\r\n");
}

TEST(ReaderAddress, StructuredValueStaysWholeWithItsColons) {
  EXPECT_EQ(read("item1.ADR;type=HOME;type=pref;LABEL=x:;;1 Main St;Town;ST;12345;USA")["adr"],
            json(R"([{"key":"item1.ADR","cust_name":null,"type":["HOME","pref"],
                      "params":["LABEL=x"],"data":";;1 Main St;Town;ST;12345;USA"}])"));
  EXPECT_EQ(read("ADR;type=WORK:;Attn: Receiving;2 High St;;;;")["adr"][0]["data"],
            ";Attn: Receiving;2 High St;;;;");
  // Escapes stay as the card spells them.
  EXPECT_EQ(read("ADR:;;Main St\\, 1\\;2;;;;")["adr"][0]["data"], ";;Main St\\, 1\\;2;;;;");
}

TEST(ReaderAddress, NoValueNoEntry) {
  EXPECT_FALSE(read(card({"ADR;type=HOME:", "ADR;type=HOME"})).isMember("adr"));
}

}  // namespace
