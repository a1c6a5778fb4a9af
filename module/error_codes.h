// Error codes of both APIs and the texts that go with them.
#pragma once

namespace orva_errors {

constexpr int kLostParameters = 900;
constexpr const char* kLostParametersText = "Request lost parameters";
constexpr int kIncorrectParameter = 901;
constexpr const char* kIncorrectParameterText = "Incorrect parameter: Need ";

constexpr int kConfParse = 1000;
constexpr const char* kConfParseText = "Json conf parse error";
constexpr int kConfDump = 1001;
constexpr const char* kConfDumpText = "Json conf dump error";
constexpr int kHttpPortConflict = 1002;
constexpr const char* kHttpPortConflictText = "HTTP port conflict";
constexpr int kHttpsPortConflict = 1003;
constexpr const char* kHttpsPortConflictText = "HTTPS port conflict";
constexpr int kUpdatePortFile = 1004;
constexpr const char* kUpdatePortFileText = "Update port file failed";
constexpr int kFirewallHup = 1005;
constexpr const char* kFirewallHupText = "Fail to hup firewall rules";
constexpr int kConfToXml = 1006;
constexpr const char* kConfToXmlText = "Fail to dump json conf into xml conf";
constexpr int kServerRestart = 1007;
constexpr const char* kServerRestartText = "Fail to restart calendar server";

constexpr int kDeleteItems = 1009;
constexpr const char* kDeleteItemsText = "Fail to delete item(s) from DB";
constexpr int kSetCard = 1011;
constexpr const char* kSetCardText = "Fail to set card";

}  // namespace orva_errors
