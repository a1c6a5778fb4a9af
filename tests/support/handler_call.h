// Runs one handler method the way an entry function does, on a request built
// from params, and hands back the response.
#pragma once

#include <json/value.h>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/webapi.h"

namespace orva_test {

template <typename Method>
ORVA::APIResponse callHandler(Method method, const Json::Value& params) {
  ORVA::APIRequest request(params);
  ORVA::APIResponse response;
  ContactAndCalendarHandler handler(&request, &response, "test");
  (handler.*method)();
  return response;
}

}  // namespace orva_test
