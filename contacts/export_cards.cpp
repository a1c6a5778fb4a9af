#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::exportCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user", "id"})) return;
  response->SetError(501, Json::Value("exportCards is not built yet"));
}
