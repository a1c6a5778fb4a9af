#include "settings/common_settings.h"

#include <cstdint>
#include <cstdlib>

#include "platform/system_services.h"

namespace orva_settings {

std::string memberText(const Json::Value& settings, const char* key) {
  if (!settings.isObject()) return "";
  const Json::Value& member = settings[key];
  if (!member.isConvertibleTo(Json::stringValue)) return "";
  return member.asString();
}

bool servicesFileDiffers(const char* section, const std::string& portText) {
  char value[64];
  if (OLIBCFileGetSectionValue(kServicesFile, section, kPortsKey, value, sizeof value) < 0) {
    return true;
  }
  return value != portText + "/tcp";
}

int portNumber(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return static_cast<int>(static_cast<int32_t>(value));
}

}  // namespace orva_settings
