#include "appliance/host/routes/calendar_file_routes.h"

#include <set>
#include <sstream>

#include "appliance/host/api/json_text.h"
#include "appliance/host/calendar/calendar_files.h"
#include "appliance/host/routes/appliance_routes.h"
#include "appliance/host/routes/web_routes.h"

namespace orva_host {

namespace {

HttpAnswer faultAnswer(orva_calendar::CalendarFault fault, const std::string& user,
                       const std::string& name) {
  const std::string what = "calendar " + name + " of " + user;
  switch (fault) {
    case orva_calendar::CalendarFault::kBadName:
      return refusalAnswer(400, kBadUserName, what);
    case orva_calendar::CalendarFault::kMissing:
      return refusalAnswer(404, kNoSuchUser, what);
    case orva_calendar::CalendarFault::kNotCalendar:
      return refusalAnswer(400, kNotCalendar, name + " of " + user + " is not a calendar");
    case orva_calendar::CalendarFault::kNone:
    case orva_calendar::CalendarFault::kFailed:
      break;
  }
  return refusalAnswer(500, kApplianceFailed, what);
}

}  // namespace

HttpAnswer importCalendarRoute(const HttpRequest& request) {
  if (!request.multipart) {
    return hostErrorAnswer(400, kBadRequest, "send user, name and file as multipart/form-data");
  }
  std::string user, name;
  std::set<std::string> apply;
  const FormPart* file = nullptr;
  for (const FormPart& part : request.parts) {
    if (part.name == "user") {
      user = part.content;
    } else if (part.name == "name") {
      name = part.content;
    } else if (part.name == "apply") {
      // The UIDs of update candidates to apply, as a JSON array.
      Json::Value uids;
      std::string reason;
      if (!parseStrictJson(part.content, uids, reason) || !uids.isArray()) {
        return hostErrorAnswer(400, kBadRequest, "apply: a JSON array of UIDs");
      }
      for (const Json::Value& uid : uids) {
        if (uid.isString()) apply.insert(uid.asString());
      }
    } else if (part.name == "file" && file == nullptr) {
      file = &part;
    } else {
      return hostErrorAnswer(400, kBadRequest, "unknown or repeated form field: " + part.name);
    }
  }
  if (file == nullptr) return hostErrorAnswer(400, kBadRequest, "no file");
  std::istringstream in(file->content);
  orva_calendar::CalendarImport result;
  const orva_calendar::CalendarFault fault =
      orva_calendar::importCalendar(user, name, in, result, apply);
  if (fault != orva_calendar::CalendarFault::kNone) return faultAnswer(fault, user, name);
  if (result.calendars == 0) {
    return refusalAnswer(400, kBadRequest,
                         "the file is no iCalendar file: expected BEGIN:VCALENDAR ... "
                         "END:VCALENDAR with events, tasks or journal entries");
  }
  if (result.failed) return refusalAnswer(500, kApplianceFailed, "calendar " + name);
  return dataAnswer(orva_calendar::importAnswer(result));
}

HttpAnswer exportCalendarRoute(const HttpRequest& request) {
  Json::Value object;
  std::string reason;
  HttpAnswer refusal;
  std::string user, name;
  if (!parseStrictJson(request.body, object, reason)) {
    return hostErrorAnswer(400, kBadRequest, "Request body is not JSON: " + reason);
  }
  if (!onlyKeys(object, {"user", "name"}, refusal) ||
      !textMember(object, "user", true, user, refusal) ||
      !textMember(object, "name", true, name, refusal)) {
    return refusal;
  }
  std::ostringstream out;
  const orva_calendar::CalendarFault fault = orva_calendar::exportCalendar(user, name, out);
  if (fault != orva_calendar::CalendarFault::kNone) return faultAnswer(fault, user, name);
  HttpAnswer answer;
  answer.contentType = "text/calendar; charset=utf-8";
  // The file name only when it needs no quoting.
  const bool plain = name.find_first_not_of(
                         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                         "0123456789-_") == std::string::npos;
  answer.headers = {
      {"Content-Disposition",
       "attachment; filename=\"" + (plain ? name : std::string("calendar")) + ".ics\""}};
  answer.body = out.str();
  return answer;
}

}  // namespace orva_host
