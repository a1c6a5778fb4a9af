#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::setCommonSetting() {
  if (!orva_params::requireParams(request, response, __LINE__, {"EnableSSL", "RedirectHTTPToHTTPS", "HTTPPort", "SSLPort"})) return;
  response->SetError(501, Json::Value("setCommonSetting is not built yet"));
}
