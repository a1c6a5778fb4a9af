// The host's command line:
//   orva-webapi [--root DIR] [--module FILE] [--verbose] methods
//   orva-webapi [...] call API METHOD [--version N] [PARAM...]
//   orva-webapi [...] serve [--listen HOST:PORT] [--ui DIR]
//   orva-webapi [...] import-calendar USER CALENDAR FILE
//   orva-webapi [...] export-calendar USER CALENDAR
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace orva_host {

enum class Command { kNone, kMethods, kCall, kServe, kImportCalendar, kExportCalendar };

struct Options {
  std::string root;    // as given; empty: $ORVA_ROOT, else "/"
  std::string module;  // as given; empty: the module beside the program
  bool verbose = false;
  Command command = Command::kNone;
  // Help was asked for: print helpText and stop with success.
  bool help = false;
  std::string helpText;

  // call
  std::string api;
  std::string method;
  int version = 1;
  Json::Value params{Json::objectValue};

  // serve
  std::string listenHost = "127.0.0.1";
  int listenPort = 8080;
  std::string uiFolder;  // as given; empty: the pages installed beside the program

  // import-calendar, export-calendar: USER CALENDAR [FILE]
  std::vector<std::string> calendarArgs;
};

// Fills options from argv. False with a message in error for a usage error.
bool parseArguments(int argc, const char* const* argv, Options& options, std::string& error);

// Adds one call parameter: name=TEXT (a JSON string) or name:=JSON (any JSON
// value). False with a message in error when it is neither, or is given twice.
bool addCallParameter(const std::string& argument, Json::Value& params, std::string& error);

// Splits HOST:PORT ("[::1]:8080" for IPv6). Port 0 asks for any free port.
bool parseListenAddress(const std::string& text, std::string& host, int& port, std::string& error);

std::string programHelp();
std::string methodsHelp();
std::string callHelp();
std::string serveHelp();
std::string calendarHelp();

}  // namespace orva_host
