#include "vcard/property_name.h"

#include <gtest/gtest.h>

using orva_vcard::nameIs;
using orva_vcard::propertyGroup;
using orva_vcard::propertyName;

TEST(PropertyName, NameEndsAtFirstSemicolonOrColonAndLosesItsGroup) {
  EXPECT_EQ(propertyName("TEL;TYPE=CELL:+1 555 0100"), "TEL");
  EXPECT_EQ(propertyName("item1.EMAIL;type=INTERNET:a@b.c"), "EMAIL");
  EXPECT_EQ(propertyName("n:Doe;Jane"), "n");
  EXPECT_EQ(propertyName("URL:http://a.b/c;d"), "URL");
  // A dot inside a parameter or the value is no group.
  EXPECT_EQ(propertyName("PHOTO;X-NAME=a.b:data"), "PHOTO");
  EXPECT_EQ(propertyName("NOTE:see a.b"), "NOTE");
  // A line without ';' or ':' is all name.
  EXPECT_EQ(propertyName("continued text"), "continued text");
  EXPECT_EQ(propertyName(""), "");
}

TEST(PropertyName, GroupIsTextBeforeTheDotOfTheName) {
  EXPECT_EQ(propertyGroup("item1.TEL;TYPE=CELL:+1"), "item1");
  EXPECT_EQ(propertyGroup("item1.X-ABLabel:Gym"), "item1");
  EXPECT_EQ(propertyGroup("TEL;X-A=b.c:+1"), "");
  EXPECT_EQ(propertyGroup("NOTE:a.b"), "");
  EXPECT_EQ(propertyGroup(""), "");
}

TEST(PropertyName, NameIsComparesAsciiCaseOnly) {
  EXPECT_TRUE(nameIs("tel", "TEL"));
  EXPECT_TRUE(nameIs("Tel", "TEL"));
  EXPECT_TRUE(nameIs("X-ABLabel", "X-ABLABEL"));
  EXPECT_FALSE(nameIs("TELX", "TEL"));
  EXPECT_FALSE(nameIs("TE", "TEL"));
  EXPECT_FALSE(nameIs("", "TEL"));
  EXPECT_TRUE(nameIs("", ""));
  // Bytes beyond ASCII are never folded.
  EXPECT_FALSE(nameIs("\xe9", "\xc9"));
}
