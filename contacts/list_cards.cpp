#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::listCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user"})) return;
  response->SetError(501, Json::Value("listCards is not built yet"));
}
