#include "module/request_params.h"

#include <syslog.h>

#include "module/error_codes.h"

namespace orva_params {

void answerLoggedError(ORVA::APIResponse* response, int line, int code, const char* message) {
  ErrorLog(kLogSource, line, 1, message, 0);
  response->SetError(code, Json::Value(message));
}

bool requireParams(ORVA::APIRequest* request, ORVA::APIResponse* response, int line,
                   std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (!request->HasParam(name)) {
      answerLoggedError(response, line, orva_errors::kLostParameters,
                        orva_errors::kLostParametersText);
      return false;
    }
  }
  return true;
}

void answerIncorrectParameter(ORVA::APIResponse* response, int line, const char* logMessage) {
  ErrorLog(kLogSource, line, 1, logMessage, 0);
  response->SetError(orva_errors::kIncorrectParameter,
                     Json::Value(orva_errors::kIncorrectParameterText));
}

bool readStringParam(ORVA::APIRequest* request, ORVA::APIResponse* response, int line,
                     const char* name, std::string& out) {
  const Json::Value value = request->GetParam(name, Json::Value());
  if (!value.isConvertibleTo(Json::stringValue)) {
    const std::string message = std::string("check type of ") + name + "(string)";
    answerIncorrectParameter(response, line, message.c_str());
    return false;
  }
  out = value.asString();
  return true;
}

void logUnknownUser(int line, const std::string& userName) {
  syslog(LOG_ERR, "%s:%d Can't find [%s]'s ID", kLogSource, line, userName.c_str());
}

}  // namespace orva_params
