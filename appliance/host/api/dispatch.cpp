#include "appliance/host/api/dispatch.h"

#include <cstdio>
#include <exception>

#include "appliance/host/api/host_codes.h"
#include "appliance/host/api/json_text.h"
#include "platform/webapi.h"

namespace orva_host {

namespace {

constexpr const char* kLogSource = "orva-webapi";

DispatchResult hostError(HostError code, const std::string& particulars = std::string()) {
  return DispatchResult{hostErrorEnvelope(code, particulars), false};
}

DispatchResult raised(const std::string& api, const std::string& method, const char* what) {
  ErrorLog(kLogSource, __LINE__, 1, "%s %s raised an exception: %s", api.c_str(), method.c_str(),
           what);
  return hostError(kModuleException);
}

}  // namespace

DispatchResult dispatchRequest(const LoadedModule& module, const std::string& api, int version,
                               const std::string& method, const Json::Value& params) {
  EntryFunction handler = nullptr;
  switch (module.find(api, version, method, handler)) {
    case Lookup::kUnknownApi:
      return hostError(kUnknownApi, api);
    case Lookup::kUnknownVersion:
      return hostError(kUnknownVersion, std::to_string(version) + " of API " + api);
    case Lookup::kUnknownMethod:
      return hostError(kUnknownMethod,
                       method + " of API " + api + " version " + std::to_string(version));
    case Lookup::kFound:
      break;
  }

  ORVA::APIRequest request(params);
  ORVA::APIResponse response;
  try {
    handler(&request, &response);
  } catch (const std::exception& e) {
    return raised(api, method, e.what());
  } catch (...) {
    return raised(api, method, "not a std::exception");
  }

  if (!response.IsAnswered()) {
    ErrorLog(kLogSource, __LINE__, 1, "%s %s returned without an answer", api.c_str(),
             method.c_str());
    return hostError(kNoAnswer);
  }
  if (response.AnswerCount() > 1) {
    ErrorLog(kLogSource, __LINE__, 1,
             "programming error: %s %s answered %d times; the first answer is kept", api.c_str(),
             method.c_str(), response.AnswerCount());
    std::fprintf(stderr,
                 "orva-webapi: programming error: %s %s answered %d times; the first answer is "
                 "kept\n",
                 api.c_str(), method.c_str(), response.AnswerCount());
  }
  const bool success = response.IsSuccess();
  return DispatchResult{response.TakeEnvelope(), success};
}

}  // namespace orva_host
