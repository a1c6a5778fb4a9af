// Calendar files in and out, beside the calendars' routes:
//   POST /webapi/calendars/import  multipart: "user", "name" and "file" (an
//                                  .ics file), optionally "apply" (a JSON
//                                  array of the UIDs of update candidates to
//                                  write); answered in the envelope with the
//                                  counts (see calendar_files.h)
//   POST /webapi/calendars/export  {user, name}: the calendar as one .ics
#pragma once

#include "appliance/host/http/http_exchange.h"

namespace orva_host {

constexpr const char* kCalendarImportPath = "/webapi/calendars/import";
constexpr const char* kCalendarExportPath = "/webapi/calendars/export";

HttpAnswer importCalendarRoute(const HttpRequest& request);
HttpAnswer exportCalendarRoute(const HttpRequest& request);

}  // namespace orva_host
