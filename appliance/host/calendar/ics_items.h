// An iCalendar file read as a stream and cut into the items a CalDAV server
// stores: one item per UID, each event, task or journal entry with its
// overrides (the components of the same UID that follow it) and the time
// zones its components name. Only the file's time zones and one item are in
// memory at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace orva_calendar {

// An item larger than this is skipped: one upload must not make the process
// hold an unbounded text.
constexpr std::size_t kMaxItemBytes = std::size_t{4} << 20;
constexpr std::size_t kMaxTimezoneBytes = std::size_t{4} << 20;

struct IcsItem {
  std::string uid;
  std::string kind;        // "VEVENT", "VTODO" or "VJOURNAL"
  std::string text;        // a whole VCALENDAR, CR LF line ends
  std::uint64_t line = 0;  // the file's line where its first component begins
  std::size_t components = 0;
};

// Told of each component left out: the line where it began and why.
using BadComponent = std::function<void(std::uint64_t line, const std::string& reason)>;
// Takes each item; false stops the reading.
using ItemSink = std::function<bool(IcsItem& item)>;

// Reads the whole stream. Components that are not events, tasks or journal
// entries (VFREEBUSY, an unknown X- component), components without a UID,
// unbalanced BEGIN and END lines and items too large go to bad. Returns the
// number of VCALENDAR objects found.
std::size_t readIcsItems(std::istream& in, const ItemSink& sink, const BadComponent& bad);

// text with ASCII letters in upper case (names of properties and components).
std::string upperAscii(std::string text);

// The first lines of every VCALENDAR the import stores and the export writes.
constexpr const char* kCalendarHeader =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//ORVA//Calendar//EN\r\n";

// The text of a VCALENDAR holding the given components and time zones, as
// items are stored and exported.
std::string calendarText(const std::string& timezones, const std::string& components);

}  // namespace orva_calendar

namespace orva_calendar {

// The top-level components of one VCALENDAR text, each whole (its BEGIN to
// its END line, CR LF ended), in order: VTIMEZONEs to timezone with their
// TZID, the others to component.
void splitCalendar(
    const std::string& text,
    const std::function<void(const std::string& tzid, const std::string& block)>& timezone,
    const std::function<void(const std::string& block)>& component);

}  // namespace orva_calendar
