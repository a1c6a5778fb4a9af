#include "module/error_codes.h"
#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"
#include "platform/system_services.h"
#include "settings/common_settings.h"
#include "settings/set_rollback.h"
#include "settings/settings_lock.h"

namespace {

using orva_params::answerLoggedError;
namespace names = orva_settings;

// jsoncpp throws when asked for a conversion it cannot make, so each value is
// tested first; false (after answering 901) when it cannot be read as wanted.
bool readFlag(ORVA::APIRequest* request, ORVA::APIResponse* response, int line, const char* name,
              Json::Value& settings) {
  const Json::Value value = request->GetParam(name, Json::Value());
  if (!value.isConvertibleTo(Json::booleanValue)) {
    orva_params::answerIncorrectParameter(
        response, line, (std::string("check type of ") + name + "(bool)").c_str());
    return false;
  }
  settings[name] = value.asBool();
  return true;
}

bool readPort(ORVA::APIRequest* request, ORVA::APIResponse* response, int line, const char* name,
              Json::Value& settings) {
  const Json::Value value = request->GetParam(name, Json::Value());
  // Only a whole number is a port: jsoncpp would take true as 1 and cut
  // 8080.9 down to 8080.
  if (!value.isInt()) {
    orva_params::answerIncorrectParameter(response, line,
                                          (std::string("check type of ") + name + "(int)").c_str());
    return false;
  }
  settings[name] = value.asInt();
  return true;
}

bool validPort(int port) { return port >= 1 && port <= 65535; }

// Undoes what was applied, then answers code; 1007 names the start/stop
// script's reason when it left one.
void failAfterApplying(ORVA::APIResponse* response, int line, orva_errors::Code code,
                       orva_settings::SetRollback& rollback, const std::string& reason = "") {
  orva_params::logError(line, orva_errors::errorText(code));
  rollback.undo();
  if (reason.empty()) {
    orva_params::answerError(response, code);
    return;
  }
  response->SetError(code, Json::Value(std::string(orva_errors::errorText(code)) + ": " + reason));
}

}  // namespace

void ContactAndCalendarHandler::setCommonSetting() {
  if (!orva_params::requireParams(
          request, response, __LINE__,
          {names::kEnableSsl, names::kRedirect, names::kHttpPort, names::kSslPort})) {
    return;
  }
  // Held to the end of the request: a second "set" waits, and then reads
  // what this one stored.
  const names::SettingsLock lock;
  if (!lock.held() || !confManager.JsonConfParse()) {
    answerLoggedError(response, __LINE__, orva_errors::kConfParse);
    return;
  }
  const Json::Value current = confManager.JsonGet(names::kSettingsKey);
  const std::string oldHttpText = names::memberText(current, names::kHttpPort);
  const std::string oldHttpsText = names::memberText(current, names::kSslPort);

  Json::Value settings(Json::objectValue);
  if (!readFlag(request, response, __LINE__, names::kEnableSsl, settings) ||
      !readFlag(request, response, __LINE__, names::kRedirect, settings) ||
      !readPort(request, response, __LINE__, names::kHttpPort, settings) ||
      !readPort(request, response, __LINE__, names::kSslPort, settings)) {
    return;
  }
  // The texts of the ports as stored, so that the services file always gets
  // the digits of the integer that the configuration keeps.
  const std::string httpText = names::memberText(settings, names::kHttpPort);
  const std::string httpsText = names::memberText(settings, names::kSslPort);

  // Both tests run on every request. Out-of-range or equal ports are refused
  // here too: the server could not start on them.
  const int httpPort = names::portNumber(httpText);
  if (!validPort(httpPort) || WebUtils::IsPortConflict(names::kHttpSection, httpPort, httpPort)) {
    answerLoggedError(response, __LINE__, orva_errors::kHttpPortConflict);
    return;
  }
  const int httpsPort = names::portNumber(httpsText);
  if (!validPort(httpsPort) || httpsPort == httpPort ||
      WebUtils::IsPortConflict(names::kHttpsSection, httpsPort, httpsPort)) {
    answerLoggedError(response, __LINE__, orva_errors::kHttpsPortConflict);
    return;
  }

  // A services file that disagrees with the stored ports (an earlier
  // request that failed half way, a hand edit) is rewritten too.
  const bool httpChanged =
      httpText != oldHttpText || names::servicesFileDiffers(names::kHttpSection, httpText);
  const bool httpsChanged =
      httpsText != oldHttpsText || names::servicesFileDiffers(names::kHttpsSection, httpsText);

  // All or nothing: a step that fails puts back what the ones before it
  // changed, so that the files, the firewall and the server never disagree.
  names::SetRollback rollback(confManager);
  if (httpChanged) {
    rollback.keepSection(names::kHttpSection);
    if (OLIBCFileSetSectionValue(names::kServicesFile, names::kHttpSection, names::kPortsKey,
                                 (httpText + "/tcp").c_str()) < 0) {
      return failAfterApplying(response, __LINE__, orva_errors::kUpdatePortFile, rollback);
    }
  }
  if (httpsChanged) {
    rollback.keepSection(names::kHttpsSection);
    if (OLIBCFileSetSectionValue(names::kServicesFile, names::kHttpsSection, names::kPortsKey,
                                 (httpsText + "/tcp").c_str()) < 0) {
      return failAfterApplying(response, __LINE__, orva_errors::kUpdatePortFile, rollback);
    }
  }
  if (httpChanged || httpsChanged) {
    rollback.firewallReloaded();
    if (ORVAFwRuleHup() < 0) {
      return failAfterApplying(response, __LINE__, orva_errors::kFirewallHup, rollback);
    }
  }

  rollback.keepSettings(current);
  confManager.JsonSet(settings, names::kSettingsKey);
  if (!confManager.JsonConfDump()) {
    return failAfterApplying(response, __LINE__, orva_errors::kConfDump, rollback);
  }
  if (OLIBCExec(names::kConfDumpTool, "--dump", names::kJsonConf, names::kPlistConf, nullptr) < 0) {
    return failAfterApplying(response, __LINE__, orva_errors::kConfToXml, rollback);
  }
  rollback.propertyListWritten();
  names::clearRestartFailure();
  if (OLIBCExec(names::kStartStopScript, "restart", nullptr, nullptr, nullptr) < 0) {
    return failAfterApplying(response, __LINE__, orva_errors::kServerRestart, rollback,
                             names::restartFailure());
  }

  if (!confManager.JsonConfParse()) {
    answerLoggedError(response, __LINE__, orva_errors::kConfParse);
    return;
  }
  Json::Value data(Json::objectValue);
  data["common"] = confManager.JsonGet(names::kSettingsKey);
  response->SetSuccess(data);
}
