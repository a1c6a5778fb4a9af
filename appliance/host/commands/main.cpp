// orva-webapi: loads a web-API module and serves its methods from the
// command line (methods, call) or over HTTP (serve). Run with --help.
#include <cstdio>
#include <string>

#include "appliance/host/api/module_loader.h"
#include "appliance/host/commands/arguments.h"
#include "appliance/host/commands/calendar_command.h"
#include "appliance/host/commands/call_command.h"
#include "appliance/host/commands/root_setup.h"
#include "appliance/host/commands/serve_command.h"

namespace {

constexpr int kUsageOrHostFailure = 2;

int fail(const std::string& message) {
  std::fprintf(stderr, "orva-webapi: %s\n", message.c_str());
  return kUsageOrHostFailure;
}

}  // namespace

int main(int argc, char** argv) {
  orva_host::Options options;
  std::string error;
  if (!orva_host::parseArguments(argc, argv, options, error)) {
    return fail(error + "\nTry 'orva-webapi --help'.");
  }
  if (options.help) {
    std::fputs(options.helpText.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : kUsageOrHostFailure;
  }

  // Environment first: nothing has started a thread yet.
  std::string root;
  if (!orva_host::setUpRoot(options.root, options.verbose, root, error)) return fail(error);

  orva_host::LoadedModule module;
  if (!module.load(orva_host::modulePath(options.module), error)) return fail(error);

  switch (options.command) {
    case orva_host::Command::kMethods:
      return orva_host::runMethods(module);
    case orva_host::Command::kCall:
      return orva_host::runCall(module, options);
    case orva_host::Command::kServe:
      return orva_host::runServe(module, options, root);
    case orva_host::Command::kImportCalendar:
      return orva_host::runImportCalendar(options);
    case orva_host::Command::kExportCalendar:
      return orva_host::runExportCalendar(options);
    case orva_host::Command::kNone:
      break;
  }
  return fail("no command given");
}
