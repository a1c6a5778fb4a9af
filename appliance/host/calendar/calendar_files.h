// A user's calendar folder as the import and export see it: the items the
// server serves, and writing new ones beside them under the store's lock.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <istream>
#include <ostream>
#include <set>
#include <string>

namespace orva_calendar {

enum class CalendarFault { kNone, kBadName, kMissing, kNotCalendar, kFailed };

// The folder of a user's calendar; kNone when it exists and holds events.
CalendarFault calendarFolder(const std::string& user, const std::string& calendar,
                             std::string& folder);

// What an import did.
struct CalendarImport {
  std::uint64_t stored = 0;      // items written
  std::uint64_t merged = 0;      // components added to an item of this file written before
  std::uint64_t duplicates = 0;  // items already there with the same content
  std::uint64_t skipped = 0;     // components or items left out (see skippedWhy)
  Json::Value skippedWhy{Json::arrayValue};  // the first 100: {"line", "reason"}
  Json::Value candidates{Json::arrayValue};  // {"uid", "href"}: same UID, other content
  std::uint64_t updated = 0;                 // items replaced by the file's, as asked (apply)
  std::uint64_t calendars = 0;               // VCALENDAR objects found in the file
  bool failed = false;                       // the store could not write; what was written stays
};

// Reads an iCalendar file into the calendar (see calendarFolder for the
// faults). Items the server would not load are skipped and counted. An
// update candidate whose UID is in apply replaces the stored item, only
// while that item is still as it was read at the start (else it stays a
// candidate).
CalendarFault importCalendar(const std::string& user, const std::string& calendar, std::istream& in,
                             CalendarImport& result, const std::set<std::string>& apply = {});

// The whole calendar as one iCalendar file: each time zone once, then every
// item's components.
CalendarFault exportCalendar(const std::string& user, const std::string& calendar,
                             std::ostream& out);

// The answer data of an import.
Json::Value importAnswer(const CalendarImport& result);

}  // namespace orva_calendar
