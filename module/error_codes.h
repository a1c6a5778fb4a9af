// Error codes of both APIs. Every error answer takes its detail text from one
// table by code (errorText), so a code never travels with another's text.
#pragma once

namespace orva_errors {

enum Code : int {
  kLostParameters = 900,
  kIncorrectParameter = 901,
  kConfParse = 1000,
  kConfDump = 1001,
  kHttpPortConflict = 1002,
  kHttpsPortConflict = 1003,
  kUpdatePortFile = 1004,
  kFirewallHup = 1005,
  kConfToXml = 1006,
  kServerRestart = 1007,
  kDeleteItems = 1009,
  kSetCard = 1011,
  kCardChanged = 1012,
  kTooManyCards = 1013,
};

// The most cards one delete_cards or export_cards request may name: one
// request must not hold a worker for long.
constexpr unsigned kMaxCardsPerRequest = 10000;

// The detail text that goes with code; "Unknown error" for a code the table
// lacks (never reached by the module's own answers).
const char* errorText(Code code);

}  // namespace orva_errors
