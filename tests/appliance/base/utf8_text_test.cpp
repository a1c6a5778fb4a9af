// Client text made valid UTF-8 before it goes into a JSON answer.
#include "appliance/base/utf8_text.h"

#include <gtest/gtest.h>

namespace {

using orva_text::validUtf8;

TEST(ValidUtf8, KeepsValidTextAndReplacesEachStrayByte) {
  for (const std::string& valid : {std::string(), std::string("plain"),
                                   std::string("B\xc3\xbcro \xe2\x98\x83 \xf0\x9f\x93\x87"),
                                   std::string("\xef\xbf\xbf\xf4\x8f\xbf\xbf")}) {
    EXPECT_EQ(validUtf8(valid), valid);
  }
  const std::string r = "\xef\xbf\xbd";
  EXPECT_EQ(validUtf8("a\xff"
                      "b"),
            "a" + r + "b");
  EXPECT_EQ(validUtf8("\xc0\xaf"), r + r);                  // overlong '/'
  EXPECT_EQ(validUtf8("\xe0\x80\xaf"), r + r + r);          // overlong, three bytes
  EXPECT_EQ(validUtf8("\xed\xa0\x80"), r + r + r);          // a surrogate
  EXPECT_EQ(validUtf8("\xf4\x90\x80\x80"), r + r + r + r);  // beyond U+10FFFF
  EXPECT_EQ(validUtf8("end\xe2\x98"), "end" + r + r);       // cut short
  EXPECT_EQ(validUtf8("\xe2\x98\x83\x80"), "\xe2\x98\x83" + r);
}

}  // namespace
