#include "appliance/host/commands/call_command.h"

#include <malloc.h>

#include <cstdio>
#include <string>
#include <utility>

#include "appliance/host/api/dispatch.h"
#include "appliance/host/api/json_text.h"

namespace orva_host {

namespace {

constexpr int kHeapStep = 16 * 1024 * 1024;

int finishOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "orva-webapi: cannot write to standard output\n");
    return 2;
  }
  return 0;
}

// The process ends once the answer is out, and tearing a large answer down
// (half a million JSON nodes for a book of 10,000 cards) takes longer than
// writing it. So the answer is left for the exit to take back: kept
// reachable, never touched again.
void keepUntilExit(Json::Value&& envelope) {
  static Json::Value* const kept = new Json::Value;
  kept->swap(envelope);
}

}  // namespace

int runMethods(const LoadedModule& module) {
  for (const MethodRow& row : module.rows()) {
    std::printf("%s\t%d\t%s\n", row.api.c_str(), row.version, row.method.c_str());
  }
  return finishOutput();
}

int runCall(const LoadedModule& module, const Options& options) {
  // One answer, possibly large, is built and the process ends: the heap
  // grows in large steps rather than in hundreds of small ones.
  ::mallopt(M_TOP_PAD, kHeapStep);
  DispatchResult result =
      dispatchRequest(module, options.api, options.version, options.method, options.params);
  const bool written = writeEnvelopeLine(stdout, result.envelope);
  keepUntilExit(std::move(result.envelope));
  if (finishOutput() != 0 || !written) return 2;
  return result.success ? 0 : 1;
}

}  // namespace orva_host
