// /webapi/server/status {}: what the package's server answers now, as its
// start/stop script's "status" tells it (started, stopped or failed, and what
// answers on which port), for the administration page.
#pragma once

#include "appliance/host/routes/appliance_routes.h"

namespace orva_host {

HttpAnswer serverStatusRoute(const RouteContext& context, const Json::Value& request);

}  // namespace orva_host
