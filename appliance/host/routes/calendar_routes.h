// The routes of users' calendars (see appliance_routes.h): create and delete.
// Listing comes with the users (/webapi/users/list).
#pragma once

#include "appliance/host/routes/appliance_routes.h"

namespace orva_host {

HttpAnswer createCalendarRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer deleteCalendarRoute(const RouteContext& context, const Json::Value& request);

}  // namespace orva_host
