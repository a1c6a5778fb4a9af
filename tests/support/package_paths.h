// The package's fixed paths, as the module names them (resolved under a test root).
#pragma once

namespace orva_test {

constexpr const char* kConf = "/var/packages/Tessaro/target/etc/calendar_server_json.conf";
constexpr const char* kPlist = "/var/packages/Tessaro/target/etc/orva_caldavd.plist";
constexpr const char* kTool = "/var/packages/Tessaro/target/tools/orva_calendar_conf_dump.py";
constexpr const char* kScript = "/var/packages/Tessaro/target/tools/calendarserver_start_stop.sh";
constexpr const char* kServices = "/usr/local/etc/services.d/Tessaro.sc";
constexpr const char* kServicesDir = "/usr/local/etc/services.d";

}  // namespace orva_test
