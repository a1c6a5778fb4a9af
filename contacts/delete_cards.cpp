#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::deleteCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user", "id"})) return;
  response->SetError(501, Json::Value("deleteCards is not built yet"));
}
