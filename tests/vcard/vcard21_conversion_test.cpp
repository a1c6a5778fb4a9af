// The pieces that turn a vCard 2.1 line into 3.0: quoted-printable,
// character sets, text escapes and the rewritten line.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "vcard/charset_to_utf8.h"
#include "vcard/quoted_printable.h"
#include "vcard/text_escape.h"
#include "vcard/vcard21_line.h"

namespace {

using orva_vcard::TextShape;

std::string as30(std::string_view line,
                 orva_vcard::LineRepair expected = orva_vcard::LineRepair::kNone,
                 bool version21 = false) {
  orva_vcard::Utf8Decoder decoder;
  std::string out;
  orva_vcard::LineRepair repair;
  orva_vcard::appendLineAs30(line, version21, decoder, out, repair);
  EXPECT_EQ(repair, expected) << line;
  return out;
}

// Why the line cannot be kept; "" when it is.
std::string fault(std::string_view line) {
  orva_vcard::Utf8Decoder decoder;
  std::string out = "before";
  orva_vcard::LineRepair repair;
  const std::string reason(orva_vcard::appendLineAs30(line, true, decoder, out, repair));
  if (!reason.empty()) {
    EXPECT_EQ(out, "before") << "nothing appended for a dropped line";
  }
  return reason;
}

std::string escaped(std::string_view text, TextShape shape) {
  std::string out;
  orva_vcard::appendImportedText(out, text, shape);
  return out;
}

TEST(QuotedPrintable, DecodesBytesAndSoftBreaksAndKeepsWhatIsNoEscape) {
  EXPECT_EQ(orva_vcard::decodeQuotedPrintable("J=C3=B6rg =c3=a9"), "J\xC3\xB6rg \xC3\xA9");
  EXPECT_EQ(orva_vcard::decodeQuotedPrintable("a=0D=0Ab"), "a\r\nb");
  EXPECT_EQ(orva_vcard::decodeQuotedPrintable("soft=\r\nbreak=\nhere=\rnow"), "softbreakherenow");
  // Damaged escapes stand for themselves; a last '=' is a soft break.
  EXPECT_EQ(orva_vcard::decodeQuotedPrintable("50=ZZ =4 1+1=2"), "50=ZZ =4 1+1=2");
  EXPECT_EQ(orva_vcard::decodeQuotedPrintable("end="), "end");
  EXPECT_EQ(orva_vcard::decodeQuotedPrintable("=00"), std::string(1, '\0'));
  EXPECT_TRUE(orva_vcard::endsWithSoftBreak("NOTE;QUOTED-PRINTABLE:a="));
  EXPECT_FALSE(orva_vcard::endsWithSoftBreak("NOTE;QUOTED-PRINTABLE:a=3D"));
  EXPECT_FALSE(orva_vcard::endsWithSoftBreak(""));
}

TEST(CharsetToUtf8, TellsWellFormedUtf8) {
  EXPECT_TRUE(orva_vcard::isValidUtf8("plain \xC3\xB6 \xE2\x82\xAC \xF0\x9F\x98\x80"));
  EXPECT_FALSE(orva_vcard::isValidUtf8("\xC0\x80"));          // overlong NUL
  EXPECT_FALSE(orva_vcard::isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(orva_vcard::isValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(orva_vcard::isValidUtf8("\xE2\x82"));          // cut short
  EXPECT_FALSE(orva_vcard::isValidUtf8("caf\xE9"));
}

TEST(CharsetToUtf8, Windows1252KeepsEveryByte) {
  orva_vcard::Utf8Decoder decoder;
  EXPECT_EQ(decoder.windows1252ToUtf8("\x80 \x93q\x94 \xE9\xFF"),
            "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xC3\xA9\xC3\xBF");
  // The bytes Windows-1252 leaves undefined become the C1 code points.
  EXPECT_EQ(decoder.windows1252ToUtf8("a\x81\x8D\x8F\x90\x9D"
                                      "b"),
            "a\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"
            "b");
  EXPECT_EQ(decoder.windows1252ToUtf8(""), "");
}

TEST(CharsetToUtf8, NamedSetsAndTheirFallback) {
  orva_vcard::Utf8Decoder decoder;
  std::string out;
  EXPECT_TRUE(decoder.charsetToUtf8("iso-8859-2", "dzia\xB3u", out));
  EXPECT_EQ(out, "dzia\xC5\x82u");
  EXPECT_TRUE(decoder.charsetToUtf8("Shift_JIS", "\x82\xA0", out));
  EXPECT_EQ(out, "\xE3\x81\x82");
  EXPECT_FALSE(decoder.charsetToUtf8("NO-SUCH-SET", "x", out));
  EXPECT_FALSE(decoder.charsetToUtf8("UTF-8//IGNORE", "x", out));  // no iconv options
  EXPECT_FALSE(decoder.charsetToUtf8("", "x", out));
  EXPECT_FALSE(decoder.charsetToUtf8("SHIFT_JIS", "\x82", out));  // cut short

  // One decoder keeps its converter between texts, but starts each afresh:
  // a text that failed in a shift state does not change how the next reads.
  EXPECT_TRUE(decoder.charsetToUtf8("ISO-2022-JP", "\x1B$B$\"", out));
  EXPECT_EQ(out, "\xE3\x81\x82");
  EXPECT_FALSE(decoder.charsetToUtf8("ISO-2022-JP", "\x1B$B$\"\xFF", out));
  EXPECT_TRUE(decoder.charsetToUtf8("iso-2022-jp", "abc", out));
  EXPECT_EQ(out, "abc");
  EXPECT_TRUE(decoder.charsetToUtf8("KOI8-R", "\xF0", out));
  EXPECT_EQ(out, "\xD0\x9F");

  std::string buffer;
  // Valid text in no named set, or under a UTF-8 label, is used as it stands.
  const std::string_view plain = "J\xC3\xB6rg";
  EXPECT_EQ(decoder.textAsUtf8(plain, "", buffer).data(), plain.data());
  EXPECT_EQ(decoder.textAsUtf8(plain, "utf-8", buffer).data(), plain.data());
  // Anything else that is not UTF-8 is read as Windows-1252.
  EXPECT_EQ(decoder.textAsUtf8("J\xF6rg", "", buffer), "J\xC3\xB6rg");
  EXPECT_EQ(decoder.textAsUtf8("J\xF6rg", "UTF-8", buffer), "J\xC3\xB6rg");
  EXPECT_EQ(decoder.textAsUtf8("J\xF6rg", "X-UNKNOWN", buffer), "J\xC3\xB6rg");
  EXPECT_EQ(decoder.textAsUtf8("\x82", "SHIFT_JIS", buffer), "\xE2\x80\x9A");
  // A Latin-1 label holding Windows-1252 bytes, as exporters write it.
  EXPECT_EQ(decoder.textAsUtf8("5 \x80", "ISO-8859-1", buffer), "5 \xE2\x82\xAC");
  EXPECT_EQ(decoder.textAsUtf8("\xE0", "latin1", buffer), "\xC3\xA0");
  // Sets that are not ASCII-compatible are converted even for ASCII bytes.
  EXPECT_EQ(decoder.textAsUtf8("+AOQ-", "UTF-7", buffer), "\xC3\xA4");
}

TEST(Vcard21Text, EscapesWhat30RequiresAndKeepsExistingEscapes) {
  EXPECT_EQ(escaped("Doe, John; Jr.", TextShape::kSingle), "Doe\\, John\\; Jr.");
  EXPECT_EQ(escaped("Doe, John;Jane;;", TextShape::kCompound), "Doe\\, John;Jane;;");
  EXPECT_EQ(escaped("one\r\ntwo\nthree\rfour", TextShape::kSingle), "one\\ntwo\\nthree\\nfour");
  EXPECT_EQ(escaped("\r\n\r\n", TextShape::kSingle), "\\n\\n");
  // 2.1 writes "\;" inside a component; escapes already written stay.
  EXPECT_EQ(escaped("Main St\\; Apt 1;Town", TextShape::kCompound), "Main St\\; Apt 1;Town");
  EXPECT_EQ(escaped("a\\,b\\\\c\\nd\\Ne", TextShape::kSingle), "a\\,b\\\\c\\nd\\Ne");
  // Any other escape stands for the character after it; a last backslash
  // for itself. CATEGORIES keeps its ',' as list separators.
  EXPECT_EQ(escaped("C:\\temp\\", TextShape::kSingle), "C:temp\\\\");
  EXPECT_EQ(escaped("a\\:b \\\"c\\\"", TextShape::kSingle), "a:b \"c\"");
  EXPECT_EQ(escaped("a,b;c\\,d", TextShape::kList), "a,b\\;c\\,d");
  for (const char* text : {"a\\:b", "a,b", "a;b", "a\nb", "a\\"}) {
    EXPECT_TRUE(orva_vcard::needsImportEscapes(text, TextShape::kSingle)) << text;
  }
  for (const char* text : {"a\\,b\\;c\\\\d\\ne", "plain", ""}) {
    EXPECT_FALSE(orva_vcard::needsImportEscapes(text, TextShape::kSingle)) << text;
  }
  EXPECT_FALSE(orva_vcard::needsImportEscapes("a;b", TextShape::kCompound));
  EXPECT_FALSE(orva_vcard::needsImportEscapes("a,b", TextShape::kList));
  std::string out;
  orva_vcard::appendWithEscapedLineBreaks(out, "a,b;c\r\nd\\e");
  EXPECT_EQ(out, "a,b;c\\nd\\e");
}

TEST(Vcard21Line, ParametersBecome30Parameters) {
  EXPECT_EQ(as30("TEL;CELL;HOME:+1 555"), "TEL;TYPE=CELL;TYPE=HOME:+1 555");
  EXPECT_EQ(as30("item1.TEL;PREF;TYPE=work:1"), "item1.TEL;TYPE=PREF;TYPE=work:1");
  // A stray ';' names nothing and goes.
  EXPECT_EQ(as30("TEL;;CELL;:1"), "TEL;TYPE=CELL:1");
  // Quoted parameter values may hold ';' and ':'.
  EXPECT_EQ(as30("X-A;X-P=\"a;b:c\";WORK:v:w"), "X-A;X-P=\"a;b:c\";TYPE=WORK:v:w");
  // Bare B is no 2.1 encoding; a line in an encoding no one knows goes.
  EXPECT_EQ(as30("X-A;B:v"), "X-A;TYPE=B:v");
  EXPECT_EQ(fault("X-A;ENCODING=x-zip:v"), "names an unknown ENCODING");
  EXPECT_EQ(fault("PHOTO;ENCODING=binary:AAAA"), "names an unknown ENCODING");
  EXPECT_EQ(fault("X-A;ENCODING=:v"), "names an unknown ENCODING");
  EXPECT_EQ(as30("TEL;7BIT;ENCODING=8bit;HOME:1"), "TEL;TYPE=HOME:1");
  EXPECT_EQ(as30("X-A;LANGUAGE=de;VALUE=text:v"), "X-A;LANGUAGE=de;VALUE=text:v");
}

TEST(Vcard21Line, EncodingsAreDecodedAndTheFirstOneHolds) {
  EXPECT_EQ(as30("PHOTO;ENCODING=BASE64;TYPE=JPEG: QUJD\tREVG \r\n"),
            "PHOTO;ENCODING=b;TYPE=JPEG:QUJDREVG");
  EXPECT_EQ(as30("PHOTO;base64;GIF:QUJD"), "PHOTO;ENCODING=b;TYPE=GIF:QUJD");
  EXPECT_EQ(as30("PHOTO;ENCODING=B;TYPE=PNG:QUJD"), "PHOTO;ENCODING=b;TYPE=PNG:QUJD");
  EXPECT_EQ(fault("PHOTO;BASE64;QUOTED-PRINTABLE:QU=3D"), "holds base64 that does not decode");
  EXPECT_EQ(as30("X-A;QUOTED-PRINTABLE;BASE64:a=3Db"), "X-A:a=b");
  // Decoded line breaks of any property become "\n", and its ',' and ';'
  // text, as the server reads every such value as one text.
  EXPECT_EQ(as30("X-LIST;ENCODING=QUOTED-PRINTABLE:a,b=0D=0Ac;d"), "X-LIST:a\\,b\\nc\\;d");
  EXPECT_EQ(as30("TEL;ENCODING=QUOTED-PRINTABLE:+1 555,,7301"), "TEL:+1 555\\,\\,7301");
}

TEST(Vcard21Line, TextOf21CardsIsEscapedWhere30RequiresIt) {
  EXPECT_EQ(as30("FN:Doe, John"), "FN:Doe\\, John");
  EXPECT_EQ(as30("fn;LANGUAGE=en:a;b"), "fn;LANGUAGE=en:a\\;b");
  EXPECT_EQ(as30("N:Doe, Jr.;John;;;"), "N:Doe\\, Jr.;John;;;");
  EXPECT_EQ(as30("item2.ADR;HOME:;;1 Main St, Apt 2;Town;;;"),
            "item2.ADR;TYPE=HOME:;;1 Main St\\, Apt 2;Town;;;");
  EXPECT_EQ(as30("ORG:Acme, Inc.;R&D"), "ORG:Acme\\, Inc.;R&D");
  EXPECT_EQ(as30("TITLE:Head, Sales"), "TITLE:Head\\, Sales");
  EXPECT_EQ(as30("NOTE;ENCODING=QUOTED-PRINTABLE:a, b=0D=0A\\c"), "NOTE:a\\, b\\n\\\\c");
  EXPECT_EQ(as30("NOTE:C:\\temp", orva_vcard::LineRepair::kNone, true), "NOTE:C:\\\\temp");
  // Every other value is one text for the server, which cuts it at a bare ','.
  EXPECT_EQ(as30("X-ANDROID-CUSTOM:a;b,c"), "X-ANDROID-CUSTOM:a\\;b\\,c");
  EXPECT_EQ(as30("URL:http://example.org/a,b;c"), "URL:http://example.org/a\\,b\\;c");
  EXPECT_EQ(as30("EMAIL;INTERNET:a,b@example.org"), "EMAIL;TYPE=INTERNET:a\\,b@example.org");
  EXPECT_EQ(as30("CATEGORIES:a,b;c"), "CATEGORIES:a,b\\;c");
  // Components past the fifth of N and the seventh of ADR stay in the last.
  EXPECT_EQ(as30("N:a;b;c;d;e;f,g"), "N:a;b;c;d;e\\;f\\,g");
  EXPECT_EQ(as30("ADR:1;2;3;4;5;6;7;8"), "ADR:1;2;3;4;5;6;7\\;8");
  // A 3.0 card's text gets the writer's escapes, which leave escaped text
  // as it stands.
  EXPECT_EQ(as30("FN:Doe, John"), "FN:Doe\\, John");
  EXPECT_EQ(as30("FN;CHARSET=UTF-8:Doe, John"), "FN:Doe\\, John");
}

TEST(Vcard21Line, WhatTheServerWouldRefuseOrMisreadIsRepaired) {
  using orva_vcard::LineRepair;
  EXPECT_EQ(as30("PHOTO;ENCODING=b;TYPE=png:data:image/png;base64,QUJD", LineRepair::kDataUri),
            "PHOTO;ENCODING=b;TYPE=png:QUJD");
  EXPECT_EQ(as30("X-messaging/skype-All:joe.b", LineRepair::kPropertyName),
            "X-MESSAGING-SKYPE-ALL:joe.b");
  EXPECT_EQ(as30("item1.my_note;TYPE=x:a", LineRepair::kPropertyName), "item1.X-MY-NOTE;TYPE=x:a");
  EXPECT_EQ(as30("NOTE:see\\: here", LineRepair::kUndefinedEscape), "NOTE:see: here");
  EXPECT_EQ(as30("N:O\\'Neil;Ann;;;", LineRepair::kUndefinedEscape), "N:O'Neil;Ann;;;");
  EXPECT_EQ(as30("X-\xC3\xA9:x"), "X-\xC3\xA9:x");  // nothing to keep: refused later
}

TEST(Vcard21Line, EveryLineComesOutAsUtf8) {
  EXPECT_EQ(as30("N;CHARSET=Windows-1252:M\xFCller;J\xFCrgen"), "N:M\xC3\xBCller;J\xC3\xBCrgen");
  EXPECT_EQ(as30("NOTE;QUOTED-PRINTABLE;CHARSET=ISO-8859-1:=80 5"), "NOTE:\xE2\x82\xAC 5");
  EXPECT_EQ(as30("X-\xE9;X-P=\xE9:\xE9"), "X-\xC3\xA9;X-P=\xC3\xA9:\xC3\xA9");
  EXPECT_EQ(fault("PHOTO;BASE64:\xFF"), "holds base64 that does not decode");
  EXPECT_EQ(fault("no colon \xE9"), "has no ':'");
  EXPECT_TRUE(orva_vcard::isValidUtf8(as30("X;QUOTED-PRINTABLE;CHARSET=UTF-16:=FF=FE=00=D8")));
}

TEST(Vcard21Line, TellsQuotedPrintableLines) {
  EXPECT_TRUE(orva_vcard::namesQuotedPrintable("NOTE;ENCODING=QUOTED-PRINTABLE:a="));
  EXPECT_TRUE(orva_vcard::namesQuotedPrintable("LABEL;quoted-printable;WORK:a="));
  EXPECT_TRUE(
      orva_vcard::namesQuotedPrintable("item1.NOTE;CHARSET=UTF-8;ENCODING=\"QUOTED-PRINTABLE\":"));
  EXPECT_FALSE(orva_vcard::namesQuotedPrintable("NOTE:ENCODING=QUOTED-PRINTABLE"));
  EXPECT_FALSE(orva_vcard::namesQuotedPrintable("PHOTO;BASE64;QUOTED-PRINTABLE:a="));
  EXPECT_FALSE(orva_vcard::namesQuotedPrintable("X-A;X-P=\"x;QUOTED-PRINTABLE\":a="));
}

}  // namespace
