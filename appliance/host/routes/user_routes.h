// The routes of the server's users (see appliance_routes.h): list, add,
// change a password, remove. A new user gets an address book and a calendar
// before the sign-in, so that a client's first discovery finds both.
#pragma once

#include "appliance/host/routes/appliance_routes.h"

namespace orva_host {

HttpAnswer listUsersRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer addUserRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer setPasswordRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer removeUserRoute(const RouteContext& context, const Json::Value& request);

// The collections as the routes answer them: [{name, kind, display_name, items}].
Json::Value collectionsJson(const std::string& user);

}  // namespace orva_host
