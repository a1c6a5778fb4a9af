// A web-API module loaded with dlopen, and its method table as read through
// the module's GetAPITable. Loaded once per process and kept until the end.
#pragma once

#include <string>
#include <vector>

#include "platform/webapi.h"

namespace orva_host {

using EntryFunction = void (*)(ORVA::APIRequest*, ORVA::APIResponse*);

struct MethodRow {
  std::string api;
  int version;
  std::string method;
  EntryFunction handler;
};

enum class Lookup { kFound, kUnknownApi, kUnknownVersion, kUnknownMethod };

// The module stays loaded for as long as this object lives (load() of
// another module unloads the one before). Answers may hold keys and texts in
// the module's static memory (Json::StaticString), so every answer is written
// and dropped before the module is unloaded: `call` and `serve` keep theirs
// loaded until the process ends.
class LoadedModule {
 public:
  LoadedModule() = default;
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // Loads the module and copies its table. False with a reason in error when
  // the file does not load, lacks GetAPITable, or its table is malformed.
  bool load(const std::string& path, std::string& error);

  // Copies a table that ends with the all-zero row (load() does this with
  // the module's). False with a reason in error when a row is incomplete.
  bool readTable(const APITableEntry* table, std::string& error);

  const std::vector<MethodRow>& rows() const { return rows_; }

  // The row for API, version and method; on kFound, handler is set. The
  // outcome says which of the three is unknown: the API, then its version,
  // then the method at that version.
  Lookup find(const std::string& api, int version, const std::string& method,
              EntryFunction& handler) const;

 private:
  void* handle_ = nullptr;
  std::vector<MethodRow> rows_;
};

}  // namespace orva_host
