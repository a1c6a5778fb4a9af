#include "module/error_codes.h"

namespace orva_errors {

namespace {

struct Row {
  Code code;
  const char* text;
};

constexpr Row kTable[] = {
    {kLostParameters, "Request lost parameters"},
    {kIncorrectParameter, "Incorrect parameter: Need "},
    {kConfParse, "Json conf parse error"},
    {kConfDump, "Json conf dump error"},
    {kHttpPortConflict, "HTTP port conflict"},
    {kHttpsPortConflict, "HTTPS port conflict"},
    {kUpdatePortFile, "Update port file failed"},
    {kFirewallHup, "Fail to hup firewall rules"},
    {kConfToXml, "Fail to dump json conf into xml conf"},
    {kServerRestart, "Fail to restart calendar server"},
    {kDeleteItems, "Fail to delete item(s) from DB"},
    {kSetCard, "Fail to set card"},
    {kCardChanged, "Card changed since it was listed"},
    {kTooManyCards, "Too many cards in one request"},
};

}  // namespace

const char* errorText(Code code) {
  for (const Row& row : kTable) {
    if (row.code == code) return row.text;
  }
  return "Unknown error";
}

}  // namespace orva_errors
