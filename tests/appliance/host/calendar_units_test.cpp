// The calendar import's units: the cutting of a file into items and the
// gate for item texts (each case's verdict is the CalDAV server's own, as
// its reader and upload check give it).
#include <gtest/gtest.h>

#include <sstream>

#include "appliance/host/calendar/ics_items.cpp"
#include "appliance/host/calendar/item_check.cpp"

namespace {

std::string item(const std::string& lines) {
  return std::string(orva_calendar::kCalendarHeader) +
         "BEGIN:VEVENT\r\nUID:a\r\nDTSTAMP:20240101T000000Z\r\n" + lines +
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

TEST(CalendarItemGate, TakesWhatTheServerLoads) {
  const struct {
    std::string text;
    bool taken;
  } cases[] = {
      {item("DTSTART:20240101T100000Z\r\n"), true},
      {item("DTSTART;VALUE=DATE:20240101\r\nRRULE:FREQ=MONTHLY;BYDAY=-1SU,2MO\r\n"), true},
      {item("DTSTART;TZID=\"Europe/Berlin\":20240101T100000\r\nDURATION:PT1H\r\n"), true},
      {item("DTSTART:20240101T100000Z\r\nRDATE;VALUE=PERIOD:20240102T100000Z/PT1H\r\n"), true},
      {item("DTSTART:20240101T100000Z\r\nBEGIN:VALARM\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"), true},
      {item("DTSTART:2024011T100000Z\r\n"), false},
      {item("DTSTART:20241301T100000Z\r\n"), false},
      {item("DTEND:x\r\n"), false},
      {item("EXDATE:2024\r\n"), false},
      {item("CREATED:yesterday\r\n"), false},
      {item("RECURRENCE-ID:zz\r\n"), false},
      {item("RRULE:FREQ=SOMETIMES\r\n"), false},
      {item("RRULE:COUNT=3\r\n"), false},
      {item("RRULE:FREQ=DAILY;FOO=1\r\n"), false},
      {item("RRULE:FREQ=WEEKLY;BYDAY=XX\r\n"), false},
      {item("RRULE:FREQ=WEEKLY;WKST=XX\r\n"), false},
      {item("RDATE;VALUE=PERIOD:20240101T100000Z/xx\r\n"), false},
      {item("BEGIN:VALARM\r\nTRIGGER:soon\r\nEND:VALARM\r\n"), false},
      {item("not a line\r\n"), false},
      {item("END:VALARM\r\n"), false},
      {item("SUMMARY:tab\tand bell\a\r\n"), false},
      {item("SUMMARY:\xFF\r\n"), false},
      {std::string(orva_calendar::kCalendarHeader) +
           "BEGIN:VTIMEZONE\r\nTZID:Q\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
           "TZOFFSETFROM:zz\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
           "BEGIN:VEVENT\r\nUID:a\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
       false},
      {std::string(orva_calendar::kCalendarHeader) +
           "BEGIN:VEVENT\r\nUID:a\r\nEND:VEVENT\r\nBEGIN:VTODO\r\nUID:a\r\nEND:VTODO\r\n"
           "END:VCALENDAR\r\n",
       false},
      {std::string(orva_calendar::kCalendarHeader) +
           "BEGIN:VEVENT\r\nUID:a\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:b\r\nEND:VEVENT\r\n"
           "END:VCALENDAR\r\n",
       false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(orva_calendar::itemTextRefusal(c.text).empty(), c.taken) << c.text;
  }
}

// Whatever the file, each item the cutter hands on holds exactly one UID's
// components of one kind, and every component is either in an item or
// counted as bad.
TEST(CalendarItems, EveryComponentIsInOneItemOrCounted) {
  std::string file = "junk before\r\nBEGIN:VCALENDAR\r\nVERSION:2.0\r\n";
  for (int i = 0; i < 40; ++i) {
    const std::string uid = "u" + std::to_string(i % 7);
    const char* kind = i % 5 == 0 ? "VTODO" : "VEVENT";
    file += std::string("BEGIN:") + kind + "\r\nUID:" + uid + "\r\nSUMMARY:s" + std::to_string(i) +
            "\r\n" + (i % 11 == 3 ? "" : std::string("END:") + kind + "\r\n");
  }
  file += "BEGIN:VFREEBUSY\r\nEND:VFREEBUSY\r\nEND:VCALENDAR\r\n";
  std::istringstream in(file);
  std::size_t components = 0, bad = 0;
  orva_calendar::readIcsItems(
      in,
      [&](orva_calendar::IcsItem& item) {
        components += item.components;
        EXPECT_EQ(orva_calendar::itemTextRefusal(item.text), "") << item.text;
        return true;
      },
      [&](std::uint64_t, const std::string&) { ++bad; });
  // Four components lack their END line, and a free/busy block is no item.
  EXPECT_EQ(components, 36u);
  EXPECT_EQ(bad, 5u);
}

}  // namespace
