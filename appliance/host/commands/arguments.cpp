#include "appliance/host/commands/arguments.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "appliance/host/api/json_text.h"

namespace orva_host {

namespace {

bool isHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// "--name VALUE" or "--name=VALUE"; advances i past what it used.
bool takeOptionValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
                     std::string& value, bool& matched, std::string& error) {
  matched = false;
  const std::string& arg = args[i];
  if (arg == name) {
    matched = true;
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return false;
    }
    value = args[++i];
    return true;
  }
  if (arg.compare(0, name.size() + 1, name + "=") == 0) {
    matched = true;
    value = arg.substr(name.size() + 1);
    return true;
  }
  return true;
}

bool parseInteger(const std::string& text, long min, long max, long& out) {
  if (text.empty() || text.size() > 12) return false;
  size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (start == text.size()) return false;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || value < min || value > max) return false;
  out = value;
  return true;
}

bool parseCall(const std::vector<std::string>& args, size_t i, Options& options,
               std::string& error) {
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded) {
      if (isHelp(arg)) {
        options.help = true;
        options.helpText = callHelp();
        return true;
      }
      if (arg == "--") {
        optionsEnded = true;
        continue;
      }
      std::string value;
      bool matched = false;
      if (!takeOptionValue(args, i, "--version", value, matched, error)) return false;
      if (matched) {
        long version = 0;
        if (!parseInteger(value, 0, 2147483647L, version)) {
          error = "--version needs a whole number, not \"" + value + "\"";
          return false;
        }
        options.version = static_cast<int>(version);
        continue;
      }
      if (arg.size() > 1 && arg[0] == '-' && arg.find('=') == std::string::npos) {
        error = "unknown option for call: " + arg;
        return false;
      }
    }
    if (positional.size() < 2) {
      positional.push_back(arg);
    } else if (!addCallParameter(arg, options.params, error)) {
      return false;
    }
  }
  if (positional.size() < 2) {
    error = "call needs an API and a method";
    return false;
  }
  options.api = positional[0];
  options.method = positional[1];
  return true;
}

bool parseServe(const std::vector<std::string>& args, size_t i, Options& options,
                std::string& error) {
  for (; i < args.size(); ++i) {
    if (isHelp(args[i])) {
      options.help = true;
      options.helpText = serveHelp();
      return true;
    }
    std::string value;
    bool matched = false;
    if (!takeOptionValue(args, i, "--ui", value, matched, error)) return false;
    if (matched) {
      if (value.empty()) {
        error = "--ui needs a folder";
        return false;
      }
      options.uiFolder = value;
      continue;
    }
    if (!takeOptionValue(args, i, "--listen", value, matched, error)) return false;
    if (!matched) {
      error = "unexpected argument for serve: " + args[i];
      return false;
    }
    if (!parseListenAddress(value, options.listenHost, options.listenPort, error)) return false;
  }
  return true;
}

bool parseMethods(const std::vector<std::string>& args, size_t i, Options& options,
                  std::string& error) {
  for (; i < args.size(); ++i) {
    if (isHelp(args[i])) {
      options.help = true;
      options.helpText = methodsHelp();
      return true;
    }
    error = "unexpected argument for methods: " + args[i];
    return false;
  }
  return true;
}

}  // namespace

bool parseArguments(int argc, const char* const* argv, Options& options, std::string& error) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (isHelp(arg)) {
      options.help = true;
      options.helpText = programHelp();
      return true;
    }
    if (arg == "--verbose" || arg == "-v") {
      options.verbose = true;
      continue;
    }
    std::string value;
    bool matched = false;
    if (!takeOptionValue(args, i, "--root", value, matched, error)) return false;
    if (matched) {
      if (value.empty()) {
        error = "--root needs a folder";
        return false;
      }
      options.root = value;
      continue;
    }
    if (!takeOptionValue(args, i, "--module", value, matched, error)) return false;
    if (matched) {
      if (value.empty()) {
        error = "--module needs a file";
        return false;
      }
      options.module = value;
      continue;
    }
    break;
  }
  if (i >= args.size()) {
    error = "no command given (methods, call, serve, import-calendar or export-calendar)";
    return false;
  }
  const std::string& command = args[i];
  if (command == "methods") {
    options.command = Command::kMethods;
    return parseMethods(args, i + 1, options, error);
  }
  if (command == "call") {
    options.command = Command::kCall;
    return parseCall(args, i + 1, options, error);
  }
  if (command == "serve") {
    options.command = Command::kServe;
    return parseServe(args, i + 1, options, error);
  }
  if (command == "import-calendar" || command == "export-calendar") {
    const bool importing = command == "import-calendar";
    options.command = importing ? Command::kImportCalendar : Command::kExportCalendar;
    options.calendarArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    if (!options.calendarArgs.empty() && isHelp(options.calendarArgs.front())) {
      options.help = true;
      options.helpText = calendarHelp();
      return true;
    }
    if (options.calendarArgs.size() != (importing ? 3u : 2u)) {
      error = command + (importing ? " needs USER CALENDAR FILE" : " needs USER CALENDAR");
      return false;
    }
    return true;
  }
  error = (command.size() > 1 && command[0] == '-') ? "unknown option: " + command
                                                    : "unknown command: " + command;
  return false;
}

bool addCallParameter(const std::string& argument, Json::Value& params, std::string& error) {
  const size_t equals = argument.find('=');
  if (equals == std::string::npos) {
    error = "parameter \"" + argument + "\" is neither name=TEXT nor name:=JSON";
    return false;
  }
  std::string name = argument.substr(0, equals);
  const std::string text = argument.substr(equals + 1);
  const bool isJson = !name.empty() && name.back() == ':';
  if (isJson) name.pop_back();
  if (name.empty()) {
    error = "parameter \"" + argument + "\" has no name";
    return false;
  }
  if (params.isMember(name)) {
    error = "parameter \"" + name + "\" is given twice";
    return false;
  }
  if (!isJson) {
    params[name] = text;
    return true;
  }
  Json::Value value;
  std::string reason;
  if (!parseStrictJson(text, value, reason)) {
    error = "parameter \"" + name + "\" is not JSON: " + reason;
    return false;
  }
  params[name] = value;
  return true;
}

bool parseListenAddress(const std::string& text, std::string& host, int& port, std::string& error) {
  std::string hostPart;
  std::string portPart;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "--listen needs [HOST]:PORT, not \"" + text + "\"";
      return false;
    }
    hostPart = text.substr(1, close - 1);
    portPart = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon) {
      error = "--listen needs HOST:PORT, not \"" + text + "\"";
      return false;
    }
    hostPart = text.substr(0, colon);
    portPart = text.substr(colon + 1);
  }
  long number = 0;
  if (hostPart.empty() || !parseInteger(portPart, 0, 65535, number) || portPart[0] == '-' ||
      portPart[0] == '+') {
    error = "--listen needs HOST:PORT with a port from 0 to 65535, not \"" + text + "\"";
    return false;
  }
  host = hostPart;
  port = static_cast<int>(number);
  return true;
}

std::string programHelp() {
  return "Usage: orva-webapi [--root DIR] [--module FILE] [--verbose] COMMAND ...\n"
         "\n"
         "Loads a web-API module and serves its methods.\n"
         "\n"
         "Commands:\n"
         "  methods                       list the module's methods (API, version, method)\n"
         "  call API METHOD [PARAM...]    run one method and print its answer as JSON\n"
         "  serve [--listen HOST:PORT]    answer requests over HTTP (POST /webapi) and\n"
         "                                serve the administration page at /\n"
         "  import-calendar USER CALENDAR FILE\n"
         "                                read an .ics file into a user's calendar\n"
         "  export-calendar USER CALENDAR print a user's calendar as one .ics file\n"
         "\n"
         "Options:\n"
         "  --root DIR     appliance root; every appliance path lies under it\n"
         "                 (default: $ORVA_ROOT, else /); created and seeded if needed\n"
         "  --module FILE  module to load (default: ORVA.ContactAndCalendar.so beside\n"
         "                 this program)\n"
         "  --verbose      also write the error log to standard error\n"
         "  -h, --help     this help; COMMAND --help for a command's own\n";
}

std::string calendarHelp() {
  return "Usage: orva-webapi [OPTIONS] import-calendar USER CALENDAR FILE\n"
         "       orva-webapi [OPTIONS] export-calendar USER CALENDAR\n"
         "\n"
         "import-calendar reads an iCalendar file (any size, as a stream) into the\n"
         "calendar and prints the counts as the calendars' import route answers them;\n"
         "export-calendar prints the whole calendar as one iCalendar file.\n";
}

std::string methodsHelp() {
  return "Usage: orva-webapi [OPTIONS] methods\n"
         "\n"
         "Prints one line per method of the module: API, version and method,\n"
         "separated by tabs, in the order of the module's table.\n";
}

std::string callHelp() {
  return "Usage: orva-webapi [OPTIONS] call API METHOD [--version N] [PARAM...]\n"
         "\n"
         "Runs one method and prints its answer on one line:\n"
         "  {\"success\":true,\"data\":DATA}\n"
         "  {\"success\":false,\"error\":{\"code\":CODE,\"detail\":DETAIL}}\n"
         "\n"
         "PARAM:\n"
         "  name=TEXT      the parameter is the JSON string TEXT\n"
         "  name:=JSON     the parameter is the JSON value (number, true, false, null,\n"
         "                 array, object or a quoted string)\n"
         "\n"
         "  --version N    API version (default 1)\n"
         "\n"
         "Exit status: 0 success, 1 error answer, 2 usage error or host failure.\n"
         "\n"
         "Example:\n"
         "  orva-webapi --root /tmp/orva call ORVA.ContactAndCalendar.Contacts list_cards "
         "user=alice\n";
}

std::string serveHelp() {
  return "Usage: orva-webapi [OPTIONS] serve [--listen HOST:PORT] [--ui DIR]\n"
         "\n"
         "Answers over HTTP:\n"
         "  POST /webapi         a JSON body\n"
         "                         {\"api\":API,\"version\":1,\"method\":METHOD,\"params\":{...}}\n"
         "                       with the same envelope as call; or a multipart/form-data\n"
         "                       body with the fields api, version, method, params (JSON\n"
         "                       text) and a file \"file\", which the method gets as\n"
         "                       \"file_tmp\" (a private copy, removed afterwards) and\n"
         "                       \"file\" (its name)\n"
         "  POST /webapi/export  {\"user\":USER,\"id\":[ID,...]}: those exported cards\n"
         "                       as one .vcf download\n"
         "  POST /webapi/users/..., /webapi/calendars/..., /webapi/connection...\n"
         "                       the server's users, calendars and client set-up for\n"
         "                       the page (README: \"The appliance's own routes\")\n"
         "  POST /webapi/restore {\"user\":USER,\"cards\":[{\"id\":ID,\"text\":TEXT},...]}:\n"
         "                       those cards written back as given (a merge's undo)\n"
         "  GET /                the administration page\n"
         "Every /webapi request needs the header\n"
         "  Authorization: Bearer TOKEN\n"
         "where TOKEN is in <root>/etc/orva-webapi/token (made at first start). The\n"
         "link printed at start opens the page signed in.\n"
         "\n"
         "  --listen HOST:PORT  address to listen on (default 127.0.0.1:8080;\n"
         "                      port 0 picks a free port, printed at start)\n"
         "  --ui DIR            folder of the page's files (default: share/orva/ui\n"
         "                      beside the program's folder)\n"
         "\n"
         "Stops on SIGINT or SIGTERM.\n";
}

}  // namespace orva_host
