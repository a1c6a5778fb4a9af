#include "appliance/host/routes/web_routes.h"

#include <exception>
#include <memory>
#include <utility>

#include "appliance/host/api/dispatch.h"
#include "appliance/host/api/host_codes.h"
#include "appliance/host/api/json_text.h"
#include "appliance/host/http/access_token.h"
#include "appliance/host/http/server_limits.h"
#include "appliance/host/http/static_files.h"
#include "appliance/host/http/upload_file.h"
#include "appliance/host/routes/appliance_routes.h"
#include "appliance/host/routes/calendar_file_routes.h"
#include "appliance/host/routes/export_download.h"
#include "appliance/host/routes/restore_route.h"
#include "platform/webapi.h"

namespace orva_host {

namespace {

constexpr const char* kLogSource = "orva-webapi";

bool isWebApiPath(const std::string& path) {
  return path == "/webapi" || path.compare(0, 8, "/webapi/") == 0;
}

HttpAnswer badRequest(const std::string& detail) {
  return hostErrorAnswer(400, kBadRequest, detail);
}

// Parses a JSON body whose tree stays small: a text of more elements is
// refused before any of it is built. False with the answer to give.
bool parseBoundedJson(const std::string& text, Json::Value& value, HttpAnswer& refusal) {
  if (!jsonNodesWithin(text, kMaxJsonNodes)) {
    refusal = hostErrorAnswer(413, kBodyTooLarge,
                              "more than " + std::to_string(kMaxJsonNodes) + " JSON elements");
    return false;
  }
  std::string reason;
  if (!parseStrictJson(text, value, reason)) {
    refusal = badRequest("Request body is not JSON: " + reason);
    return false;
  }
  return true;
}

struct ApiCall {
  std::string api;
  int version = 1;
  std::string method;
  Json::Value params{Json::objectValue};
};

// Checks a request object's shape and fills call, taking the params over
// rather than copying them (a large request's tree exists once). False with
// the reason in detail otherwise.
bool readApiCall(Json::Value& request, ApiCall& call, std::string& detail) {
  if (!request.isObject()) {
    detail = "Request body must be a JSON object";
    return false;
  }
  for (const std::string& key : request.getMemberNames()) {
    if (key != "api" && key != "version" && key != "method" && key != "params") {
      detail = "Unknown key in request: " + key;
      return false;
    }
  }
  if (!request["api"].isString() || !request["method"].isString()) {
    detail = "Request needs \"api\" and \"method\" as strings";
    return false;
  }
  call.api = request["api"].asString();
  call.method = request["method"].asString();
  if (request.isMember("version")) {
    if (!request["version"].isInt()) {
      detail = "Request \"version\" must be a whole number";
      return false;
    }
    call.version = request["version"].asInt();
  }
  if (request.isMember("params") && !request["params"].isNull()) {
    if (!request["params"].isObject()) {
      detail = "Request \"params\" must be a JSON object";
      return false;
    }
    call.params.swap(request["params"]);
  }
  return true;
}

HttpAnswer dispatchCall(const LoadedModule& module, const ApiCall& call) {
  auto result = std::make_shared<DispatchResult>(
      dispatchRequest(module, call.api, call.version, call.method, call.params));
  HttpAnswer answer = envelopeAnswer(200, result->envelope);
  // Tearing down a large answer takes about as long as writing it; the
  // client need not wait for it.
  answer.leftovers = std::move(result);
  return answer;
}

HttpAnswer fileTmpRefused() {
  return hostErrorAnswer(400, kFileTmpRefused, "send the file as multipart/form-data");
}

// The multipart text fields as a request object: "version" and "params"
// hold JSON text.
bool formToRequest(const HttpRequest& request, Json::Value& object, std::string& detail) {
  object = Json::Value(Json::objectValue);
  for (const FormPart& part : request.parts) {
    if (part.name == "file") continue;
    if (part.name != "api" && part.name != "method" && part.name != "version" &&
        part.name != "params") {
      detail = "Unknown form field: " + part.name;
      return false;
    }
    if (object.isMember(part.name)) {
      detail = "Form field given twice: " + part.name;
      return false;
    }
    if (part.name == "api" || part.name == "method") {
      object[part.name] = part.content;
      continue;
    }
    Json::Value value;
    std::string reason;
    if (!jsonNodesWithin(part.content, kMaxJsonNodes)) {
      detail = "Form field \"" + part.name + "\" has too many JSON elements";
      return false;
    }
    if (!parseStrictJson(part.content, value, reason)) {
      detail = "Form field \"" + part.name + "\" is not JSON: " + reason;
      return false;
    }
    object[part.name] = value;
  }
  return true;
}

}  // namespace

HttpAnswer unauthorizedAnswer() {
  HttpAnswer answer;
  answer.status = 401;
  answer.contentType = "text/plain";
  answer.headers = {{"WWW-Authenticate", "Bearer"}};
  answer.body = "Missing or wrong access token\n";
  return answer;
}

HttpAnswer envelopeAnswer(int status, const Json::Value& envelope) {
  HttpAnswer answer;
  answer.status = status;
  answer.contentType = "application/json";
  answer.body = envelopeJson(envelope);
  answer.body.push_back('\n');
  return answer;
}

HttpAnswer hostErrorAnswer(int status, HostError code, const std::string& particulars) {
  return envelopeAnswer(status, hostErrorEnvelope(code, particulars));
}

WebRoutes::WebRoutes(const LoadedModule& module, const std::string& root,
                     const std::string& uiFolder, const std::string& token)
    : module_(module), root_(root), uiFolder_(uiFolder), token_(token) {}

bool WebRoutes::refusedWithoutBody(const std::string& path,
                                   const std::string& authorization) const {
  return isWebApiPath(path) && !sameToken(bearerToken(authorization), token_);
}

HttpAnswer WebRoutes::answer(const HttpRequest& request) const {
  try {
    if (refusedWithoutBody(request.path, request.authorization)) return unauthorizedAnswer();
    if (request.method == "POST" && request.path == "/webapi") {
      return request.multipart ? answerUpload(request) : answerWebApi(request);
    }
    if (request.method == "POST" && request.path == "/webapi/export") return answerExport(request);
    if (request.method == "POST" && request.path == kCalendarImportPath) {
      return importCalendarRoute(request);
    }
    if (request.method == "POST" && request.path == kCalendarExportPath) {
      return exportCalendarRoute(request);
    }
    if (request.method == "POST" && isApplianceRoute(request.path)) {
      Json::Value object;
      HttpAnswer refusal;
      if (!parseBoundedJson(request.body, object, refusal)) return refusal;
      return applianceAnswer(module_, root_, request.path, object);
    }
    if (request.method == "POST" && request.path == kRestorePath) {
      Json::Value object;
      HttpAnswer refusal;
      return parseBoundedJson(request.body, object, refusal) ? restoreCards(object) : refusal;
    }
    if ((request.method == "GET" || request.method == "HEAD") && !isWebApiPath(request.path)) {
      return staticFileAnswer(uiFolder_, request.path);
    }
    HttpAnswer answer;
    answer.status = 404;
    answer.contentType = "text/plain";
    answer.body = "Not found: requests go to POST /webapi, the pages to GET /\n";
    return answer;
  } catch (const std::exception& e) {
    ErrorLog(kLogSource, __LINE__, 1, "request failed: %s", e.what());
  } catch (...) {
    ErrorLog(kLogSource, __LINE__, 1, "request failed: unknown exception");
  }
  return hostErrorAnswer(500, kHostFailure);
}

HttpAnswer WebRoutes::answerWebApi(const HttpRequest& request) const {
  Json::Value object;
  HttpAnswer refusal;
  if (!parseBoundedJson(request.body, object, refusal)) return refusal;
  std::string reason;
  ApiCall call;
  if (!readApiCall(object, call, reason)) return badRequest(reason);
  // A caller must not make the module read a file of its choosing.
  if (call.params.isMember("file_tmp")) return fileTmpRefused();
  return dispatchCall(module_, call);
}

HttpAnswer WebRoutes::answerUpload(const HttpRequest& request) const {
  Json::Value object;
  std::string reason;
  if (!formToRequest(request, object, reason)) return badRequest(reason);
  ApiCall call;
  if (!readApiCall(object, call, reason)) return badRequest(reason);
  if (call.params.isMember("file_tmp")) return fileTmpRefused();

  const FormPart* file = nullptr;
  for (const FormPart& part : request.parts) {
    if (part.name != "file") continue;
    if (file != nullptr) return badRequest("Form field given twice: file");
    file = &part;
  }
  if (file == nullptr) return dispatchCall(module_, call);

  UploadFile upload;
  if (!upload.store(root_, file->content, reason)) {
    ErrorLog(kLogSource, __LINE__, 1, "cannot keep an upload: %s", reason.c_str());
    return hostErrorAnswer(500, kUploadFailed);
  }
  call.params["file_tmp"] = upload.path();
  call.params["file"] = file->filename;
  return dispatchCall(module_, call);
}

HttpAnswer WebRoutes::answerExport(const HttpRequest& request) const {
  Json::Value object;
  HttpAnswer refusal;
  if (!parseBoundedJson(request.body, object, refusal)) return refusal;
  return exportDownload(module_, root_, object);
}

}  // namespace orva_host
