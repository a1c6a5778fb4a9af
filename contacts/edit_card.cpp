#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::editCard() {
  if (!orva_params::requireParams(request, response, __LINE__, {"card", "user"})) return;
  response->SetError(501, Json::Value("editCard is not built yet"));
}
