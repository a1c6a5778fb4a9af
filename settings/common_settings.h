// Fixed names of the server's settings: configuration key, files, programs
// and services-file sections, as the package installs them.
#pragma once

#include <json/value.h>

#include <string>

namespace orva_settings {

constexpr const char* kSettingsKey = "general_setting";
constexpr const char* kRealmName = "realmName";
constexpr const char* kEnableSsl = "EnableSSL";
constexpr const char* kRedirect = "RedirectHTTPToHTTPS";
constexpr const char* kHttpPort = "HTTPPort";
constexpr const char* kSslPort = "SSLPort";

constexpr const char* kJsonConf = "/var/packages/Tessaro/target/etc/calendar_server_json.conf";
constexpr const char* kPlistConf = "/var/packages/Tessaro/target/etc/orva_caldavd.plist";
constexpr const char* kConfDumpTool =
    "/var/packages/Tessaro/target/tools/orva_calendar_conf_dump.py";
constexpr const char* kStartStopScript =
    "/var/packages/Tessaro/target/tools/calendarserver_start_stop.sh";
constexpr const char* kServicesFile = "/usr/local/etc/services.d/Tessaro.sc";
// Held by "set" from reading the configuration to its read-back.
constexpr const char* kSettingsLockFile = "/var/packages/Tessaro/target/etc/.common_settings.lock";
// Where the start/stop script leaves the reason of its last failure
// (section "failure", key "reason").
constexpr const char* kRestartFailureFile = "/var/run/calendarserver/last_failure";
constexpr const char* kHttpSection = "tessaro";
constexpr const char* kHttpsSection = "tessaro_ssl";
constexpr const char* kPortsKey = "dst.ports";

// The text form of settings[key]: jsoncpp's string conversion, "" when the
// member is missing or has no text form (an array or object), or when
// settings is not an object.
std::string memberText(const Json::Value& settings, const char* key);

// Whether section's port in the services file differs from portText + "/tcp"
// (a missing or unreadable value differs too).
bool servicesFileDiffers(const char* section, const std::string& portText);

// The port number of a port text, read like strtol (leading blanks and a sign,
// digits up to the first other character, 0 without digits), narrowed to int.
int portNumber(const std::string& text);

}  // namespace orva_settings
