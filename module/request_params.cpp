#include "module/request_params.h"

#include <syslog.h>

#include <cstring>

namespace orva_params {

void answerError(ORVA::APIResponse* response, orva_errors::Code code) {
  response->SetError(code, Json::Value(orva_errors::errorText(code)));
}

void answerError(ORVA::APIResponse* response, orva_errors::Code code, const std::string& more) {
  response->SetError(code, Json::Value(std::string(orva_errors::errorText(code)) + ": " + more));
}

void logError(int line, const char* message) {
  if (std::strchr(message, '%') == nullptr) {
    ErrorLog(kLogSource, line, 1, message, 0);
  } else {
    ErrorLog(kLogSource, line, 1, "%s", message, 0);
  }
}

void answerLoggedError(ORVA::APIResponse* response, int line, orva_errors::Code code) {
  logError(line, orva_errors::errorText(code));
  answerError(response, code);
}

bool requireParams(ORVA::APIRequest* request, ORVA::APIResponse* response, int line,
                   std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (!request->HasParam(name)) {
      answerLoggedError(response, line, orva_errors::kLostParameters);
      return false;
    }
  }
  return true;
}

void answerIncorrectParameter(ORVA::APIResponse* response, int line, const char* logMessage) {
  logError(line, logMessage);
  answerError(response, orva_errors::kIncorrectParameter);
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
