// Lines the server would refuse (servable_line.h) or serve otherwise
// (served_line.h).
#include "vcard/servable_line.h"

#include <gtest/gtest.h>

#include <string>

#include "vcard/served_line.h"

namespace {

// Every control byte, DEL included, is seen wherever it stands: in the
// sixteen-byte steps of a long line as in its tail.
TEST(ServableLine, AControlByteAnywhereInALineOfAnyLengthIsSeen) {
  for (std::size_t length = 1; length <= 40; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (int byte = 0; byte < 0x80; byte = byte == 0x1F ? 0x7F : byte + 1) {
        std::string line = "NOTE:" + std::string(length, 'a');
        line[5 + at] = static_cast<char>(byte);
        const std::string_view fault = orva_vcard::unservableLine(line);
        if (byte == '\t') {
          EXPECT_EQ(fault, "") << length << " " << at;
        } else {
          EXPECT_EQ(fault, "holds a control character") << length << " " << at << " " << byte;
        }
      }
    }
  }
}

TEST(ServedLine, WhatTheServerWouldServeOtherwiseIsMended) {
  const struct {
    const char* line;
    const char* mended;  // nullptr: as it stands
  } kCases[] = {
      {"TEL;CELL;TYPE=VOICE:+1 555,,1234", "TEL;TYPE=CELL;TYPE=VOICE:+1 555\\,\\,1234"},
      {"X-A;X-P=;X-Q=a,,b:v", "X-A;X-Q=a,b:v"},
      {"URL:https://m.example/@1,2", "URL:https://m.example/@1\\,2"},
      {"NOTE:say \\\"hi\\\" \\", "NOTE:say \"hi\" \\\\"},
      {"N:a;b;c;d;e;f", "N:a;b;c;d;e\\;f"},
      {"ADR:1;2;3;4;5;6;7;8,9", "ADR:1;2;3;4;5;6;7\\;8\\,9"},
      {"item1.URL;TYPE=pref:http\\://x.example/a\\,b", nullptr},
      {"CATEGORIES:a,b", nullptr},
      {"ORG:a;b", nullptr},
      {"PHOTO;ENCODING=b:QU,J", nullptr},
      {"PHOTO;BASE64:QUJD", "PHOTO;ENCODING=b:QUJD"},
  };
  for (const auto& c : kCases) {
    std::string out;
    EXPECT_EQ(orva_vcard::appendServedLine(out, c.line), c.mended != nullptr) << c.line;
    EXPECT_EQ(out, c.mended != nullptr ? c.mended : c.line);
  }
  // Folded lines are unfolded only when they are mended.
  std::string out;
  orva_vcard::appendServedLines(out, "X-A:a\r\n b\r\nX-B:a,\r\n b\r\nX-C:c");
  EXPECT_EQ(out, "X-A:a\r\n b\r\nX-B:a\\,b\r\nX-C:c");
}

}  // namespace
