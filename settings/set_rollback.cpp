#include "settings/set_rollback.h"

#include "module/request_params.h"
#include "platform/system_services.h"
#include "settings/common_settings.h"

namespace orva_settings {

namespace {

constexpr const char* kFailureSection = "failure";
constexpr const char* kFailureKey = "reason";

}  // namespace

SetRollback::SetRollback(ConfManager& conf) : manager_(conf) {}

void SetRollback::keepSection(const char* section) {
  char value[256];
  // A value that cannot be read cannot be put back either; it stays new.
  if (OLIBCFileGetSectionValue(kServicesFile, section, kPortsKey, value, sizeof value) < 0) return;
  sections_.push_back({section, value});
}

void SetRollback::undo() {
  if (conf_) {
    // The manager merges an object into the stored one: a null first makes
    // the old object replace the new one whole.
    manager_.JsonSet(Json::Value(), kSettingsKey);
    manager_.JsonSet(oldSettings_, kSettingsKey);
    if (!manager_.JsonConfDump()) {
      orva_params::logError(__LINE__, "set: cannot put back the JSON configuration");
    } else if (propertyList_ &&
               OLIBCExec(kConfDumpTool, "--dump", kJsonConf, kPlistConf, nullptr) < 0) {
      orva_params::logError(__LINE__, "set: cannot put back the property list");
    }
  }
  for (const Section& section : sections_) {
    if (OLIBCFileSetSectionValue(kServicesFile, section.name.c_str(), kPortsKey,
                                 section.value.c_str()) < 0) {
      orva_params::logError(__LINE__, "set: cannot put back a port of the services file");
    }
  }
  if (firewall_ && ORVAFwRuleHup() < 0) {
    orva_params::logError(__LINE__, "set: cannot reload the firewall with the old ports");
  }
}

void clearRestartFailure() {
  OLIBCFileSetSectionValue(kRestartFailureFile, kFailureSection, kFailureKey, "");
}

std::string restartFailure() {
  char reason[512];
  if (OLIBCFileGetSectionValue(kRestartFailureFile, kFailureSection, kFailureKey, reason,
                               sizeof reason) < 0) {
    return "";
  }
  return reason;
}

}  // namespace orva_settings
