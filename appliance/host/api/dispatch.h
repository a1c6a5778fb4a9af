// One request through a module: find the row, run the entry function with
// the host's request and response, and turn the outcome into the envelope.
// Safe to call from several threads at once.
#pragma once

#include <json/value.h>

#include <string>

#include "appliance/host/api/module_loader.h"

namespace orva_host {

// The envelope may point into the module's static memory: write and drop it
// while the module is loaded.
struct DispatchResult {
  Json::Value envelope;  // {"success":...} as the client gets it
  bool success = false;
};

// Never throws out of the module: an exception from the entry function, a
// missing answer or an unknown API, version or method becomes a host error
// (host_codes.h). A response answered twice keeps its first answer; the
// host reports the fault on standard error and in the error log.
DispatchResult dispatchRequest(const LoadedModule& module, const std::string& api, int version,
                               const std::string& method, const Json::Value& params);

}  // namespace orva_host
