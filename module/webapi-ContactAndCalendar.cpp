#include "module/webapi-ContactAndCalendar.h"

ContactAndCalendarHandler::ContactAndCalendarHandler(ORVA::APIRequest* request,
                                                     ORVA::APIResponse* response,
                                                     std::string methodName)
    : request(request),
      response(response),
      methodName(std::move(methodName)),
      confManager(),
      dbHandler(),
      labelTable(Json::nullValue) {}

// Members are torn down in reverse order of declaration: labelTable,
// dbHandler, confManager, methodName.
ContactAndCalendarHandler::~ContactAndCalendarHandler() = default;
