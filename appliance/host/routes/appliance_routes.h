// The appliance's own routes beside the module's /webapi, for the
// administration page: the server's users, their calendars and what a client
// needs to connect. Each is POST with a JSON object and the token, answered
// in the host's envelope:
//   /webapi/users/list          {}                           the users and their collections
//   /webapi/users/add           {user, password | hash}      a sign-in, an address book, a calendar
//   /webapi/users/password      {user, password | hash}
//   /webapi/users/remove        {user, delete_data?}         data stays unless delete_data
//   /webapi/calendars/create    {user, name, display_name?}
//   /webapi/calendars/delete    {user, name}
//   /webapi/connection          {user, host?}                addresses and certificate
//   /webapi/connection/qr       {text}                       a QR code's modules
//   /webapi/connection/profile  {user, host?}                an Apple configuration profile
//   /webapi/history/...         a book's or calendar's kept changes (history_routes.h)
#pragma once

#include <json/value.h>

#include <initializer_list>
#include <string>

#include "appliance/host/api/host_codes.h"
#include "appliance/host/http/http_exchange.h"
#include "appliance/host/api/module_loader.h"

namespace orva_host {

// Whether path is one of the routes above (they take a body).
bool isApplianceRoute(const std::string& path);

// The answer to one of them; request is the parsed body. Never throws.
HttpAnswer applianceAnswer(const LoadedModule& module, const std::string& root,
                           const std::string& path, const Json::Value& request);

// ---- shared by the routes' files ----

struct RouteContext {
  const LoadedModule& module;
  const std::string& root;
};

// {"success":true,"data":data}
HttpAnswer dataAnswer(const Json::Value& data);
// A host error envelope with the HTTP status.
HttpAnswer refusalAnswer(int status, HostError code, const std::string& particulars);

// False (with a 400 in refusal) when request is not an object or has a key
// not in keys.
bool onlyKeys(const Json::Value& request, std::initializer_list<const char*> keys,
              HttpAnswer& refusal);
// The text member key; absent is "" unless required. False (400) when it
// is not a string, or required and absent.
bool textMember(const Json::Value& request, const char* key, bool required, std::string& out,
                HttpAnswer& refusal);

}  // namespace orva_host
