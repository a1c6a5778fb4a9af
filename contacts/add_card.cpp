#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::addCard() {
  if (!orva_params::requireParams(request, response, __LINE__, {"card", "user"})) return;
  response->SetError(501, Json::Value("addCard is not built yet"));
}
