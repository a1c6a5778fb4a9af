#include "appliance/host/commands/calendar_command.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include "appliance/host/api/json_text.h"
#include "appliance/host/calendar/calendar_files.h"

namespace orva_host {

namespace {

const char* faultText(orva_calendar::CalendarFault fault) {
  switch (fault) {
    case orva_calendar::CalendarFault::kBadName:
      return "not a plain user or calendar name";
    case orva_calendar::CalendarFault::kMissing:
      return "no such calendar";
    case orva_calendar::CalendarFault::kNotCalendar:
      return "not a calendar";
    default:
      return "the storage cannot be read or written";
  }
}

int printError(const std::string& detail) {
  Json::Value envelope(Json::objectValue);
  envelope["success"] = false;
  envelope["error"]["detail"] = detail;
  std::printf("%s\n", compactJson(envelope).c_str());
  return 1;
}

}  // namespace

int runImportCalendar(const Options& options) {
  const std::string& user = options.calendarArgs[0];
  const std::string& calendar = options.calendarArgs[1];
  std::ifstream in(options.calendarArgs[2], std::ios::binary);
  if (!in) return printError("cannot read " + options.calendarArgs[2]);
  orva_calendar::CalendarImport result;
  const auto fault = orva_calendar::importCalendar(user, calendar, in, result);
  if (fault != orva_calendar::CalendarFault::kNone) return printError(faultText(fault));
  if (result.calendars == 0) return printError("the file is no iCalendar file");
  Json::Value envelope(Json::objectValue);
  envelope["success"] = !result.failed;
  envelope["data"] = orva_calendar::importAnswer(result);
  std::printf("%s\n", compactJson(envelope).c_str());
  return result.failed ? 1 : 0;
}

int runExportCalendar(const Options& options) {
  std::ios::sync_with_stdio(false);
  const auto fault =
      orva_calendar::exportCalendar(options.calendarArgs[0], options.calendarArgs[1], std::cout);
  std::cout.flush();
  if (fault == orva_calendar::CalendarFault::kNone) return 0;
  std::fprintf(stderr, "orva-webapi: %s\n", faultText(fault));
  return 1;
}

}  // namespace orva_host
