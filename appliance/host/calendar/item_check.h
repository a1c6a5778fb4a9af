// The gate for calendar items, as the store's gate for cards: one item file
// that the CalDAV server cannot load makes it fail the whole calendar for
// every client, so only texts it loads are stored.
#pragma once

#include <string>

namespace orva_calendar {

// "" when the item text is acceptable, otherwise the reason it is refused.
// Acceptable: valid UTF-8 without control characters other than tab, CR LF
// line ends, one VCALENDAR with BEGIN and END lines balanced; every unfolded
// line "name[;param=value[,value]]*:value"; VTIMEZONEs and components of one
// kind (VEVENT, VTODO or VJOURNAL) that all carry the same UID. Refused, as
// the server's reader fails them: a date or date-time that does not read
// (DTSTART, DTEND, DUE, RECURRENCE-ID, EXDATE, RDATE, DTSTAMP, CREATED,
// LAST-MODIFIED, COMPLETED, a TRIGGER with VALUE=DATE-TIME), a TRIGGER that
// is neither a duration nor a date-time, a UTC offset that does not read
// (TZOFFSETFROM, TZOFFSETTO), and a recurrence rule without a known FREQ,
// with a part it does not know or a value it cannot read (RRULE, EXRULE).
std::string itemTextRefusal(const std::string& text);

}  // namespace orva_calendar
