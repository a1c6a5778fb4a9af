#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::getCommonSetting() {
  response->SetError(501, Json::Value("getCommonSetting is not built yet"));
}
