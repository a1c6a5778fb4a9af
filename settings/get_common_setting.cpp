#include "module/error_codes.h"
#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"
#include "settings/common_settings.h"

void ContactAndCalendarHandler::getCommonSetting() {
  if (!confManager.JsonConfParse()) {
    orva_params::answerLoggedError(response, __LINE__, orva_errors::kConfParse);
    return;
  }
  Json::Value settings = confManager.JsonGet(orva_settings::kSettingsKey);
  // The realm name is the server's own; the page never sees it.
  if (settings.isObject()) settings.removeMember(orva_settings::kRealmName);
  Json::Value data(Json::objectValue);
  data["common"] = settings;
  response->SetSuccess(data);
}
