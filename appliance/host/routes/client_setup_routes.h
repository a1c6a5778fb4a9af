// What a phone or desktop client needs to connect (see appliance_routes.h):
// the names and addresses phones can reach, the CardDAV and CalDAV addresses
// as the server's settings make them, the certificate and its authority, a
// QR code of an address and an Apple configuration profile with both
// accounts (never a password).
#pragma once

#include "appliance/host/routes/appliance_routes.h"

namespace orva_host {

HttpAnswer connectionRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer qrCodeRoute(const RouteContext& context, const Json::Value& request);
HttpAnswer profileRoute(const RouteContext& context, const Json::Value& request);
// Remembers the host phones use ("" forgets it).
HttpAnswer hostChoiceRoute(const RouteContext& context, const Json::Value& request);
// The appliance's certificate authority (DER), for phones that install it
// as a file.
HttpAnswer authorityRoute(const RouteContext& context, const Json::Value& request);

// A host name or address that may stand in a URL: letters, digits, '.',
// '-' (a name) or an IPv6 address of hex digits, ':' and '.'; 1 to 253 bytes.
bool isPlainHostName(const std::string& host);

}  // namespace orva_host
