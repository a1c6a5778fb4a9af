#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::importCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user", "file_tmp", "file"})) return;
  response->SetError(501, Json::Value("importCards is not built yet"));
}
