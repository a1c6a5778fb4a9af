#include "appliance/host/routes/appliance_routes.h"

#include <exception>

#include "appliance/host/api/json_text.h"
#include "appliance/host/routes/calendar_routes.h"
#include "appliance/host/routes/client_setup_routes.h"
#include "appliance/host/routes/history_routes.h"
#include "appliance/host/routes/user_routes.h"
#include "platform/webapi.h"

namespace orva_host {

namespace {

using Handler = HttpAnswer (*)(const RouteContext&, const Json::Value&);

struct Route {
  const char* path;
  Handler handler;
};

constexpr Route kRoutes[] = {
    {"/webapi/users/list", listUsersRoute},
    {"/webapi/users/add", addUserRoute},
    {"/webapi/users/password", setPasswordRoute},
    {"/webapi/users/remove", removeUserRoute},
    {"/webapi/calendars/create", createCalendarRoute},
    {"/webapi/calendars/delete", deleteCalendarRoute},
    {"/webapi/connection", connectionRoute},
    {"/webapi/connection/qr", qrCodeRoute},
    {"/webapi/connection/profile", profileRoute},
    {"/webapi/history/trash", trashRoute},
    {"/webapi/history/restore", restoreFromTrashRoute},
    {"/webapi/history/versions", versionsRoute},
    {"/webapi/history/restore_version", restoreVersionRoute},
    {"/webapi/history/changes", changesRoute},
    {"/webapi/history/collections", historyCollectionsRoute},
    {"/webapi/history/undo_preview", undoPreviewRoute},
    {"/webapi/history/undo", undoRoute},
    {"/webapi/history/settings", historySettingsRoute},
};

}  // namespace

bool isApplianceRoute(const std::string& path) {
  for (const Route& route : kRoutes) {
    if (path == route.path) return true;
  }
  return false;
}

HttpAnswer applianceAnswer(const LoadedModule& module, const std::string& root,
                           const std::string& path, const Json::Value& request) {
  const RouteContext context{module, root};
  try {
    for (const Route& route : kRoutes) {
      if (path == route.path) return route.handler(context, request);
    }
    return refusalAnswer(404, kBadRequest, "no route " + path);
  } catch (const std::exception& e) {
    ErrorLog("appliance_routes", __LINE__, 1, "%s failed: %s", path.c_str(), e.what());
  } catch (...) {
    ErrorLog("appliance_routes", __LINE__, 1, "%s failed", path.c_str());
  }
  return refusalAnswer(500, kHostFailure, path);
}

HttpAnswer dataAnswer(const Json::Value& data) {
  Json::Value envelope(Json::objectValue);
  envelope["success"] = true;
  envelope["data"] = data;
  HttpAnswer answer;
  answer.contentType = "application/json";
  answer.headers = {{"Cache-Control", "no-store"}};
  answer.body = envelopeJson(envelope) + "\n";
  return answer;
}

HttpAnswer refusalAnswer(int status, HostError code, const std::string& particulars) {
  HttpAnswer answer;
  answer.status = status;
  answer.contentType = "application/json";
  answer.body = envelopeJson(hostErrorEnvelope(code, particulars)) + "\n";
  return answer;
}

bool onlyKeys(const Json::Value& request, std::initializer_list<const char*> keys,
              HttpAnswer& refusal) {
  if (!request.isObject()) {
    refusal = refusalAnswer(400, kBadRequest, "the body must be a JSON object");
    return false;
  }
  for (const std::string& member : request.getMemberNames()) {
    bool known = false;
    for (const char* key : keys) known = known || member == key;
    if (!known) {
      refusal = refusalAnswer(400, kBadRequest, "unknown key " + member);
      return false;
    }
  }
  return true;
}

bool textMember(const Json::Value& request, const char* key, bool required, std::string& out,
                HttpAnswer& refusal) {
  if (!request.isMember(key)) {
    out.clear();
    if (!required) return true;
    refusal = refusalAnswer(400, kBadRequest, std::string("\"") + key + "\" is missing");
    return false;
  }
  if (!request[key].isString()) {
    refusal = refusalAnswer(400, kBadRequest, std::string("\"") + key + "\" must be a string");
    return false;
  }
  out = request[key].asString();
  return true;
}

}  // namespace orva_host
