#include "appliance/host/api/module_loader.h"

#include <dlfcn.h>

namespace orva_host {

namespace {

// A table without its zero row would be read past its end; no module has
// anywhere near this many methods.
constexpr size_t kMaxRows = 4096;

bool isEndRow(const APITableEntry& row) {
  return row.api == nullptr && row.version == 0 && row.method == nullptr && row.handler == nullptr;
}

}  // namespace

LoadedModule::~LoadedModule() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

bool LoadedModule::load(const std::string& path, std::string& error) {
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    error = "cannot load module " + path + ": " + (reason != nullptr ? reason : "unknown reason");
    return false;
  }
  using GetTable = const APITableEntry* (*)();
  ::dlerror();
  void* symbol = ::dlsym(handle, "GetAPITable");
  if (symbol == nullptr) {
    error = "module " + path + " has no GetAPITable";
    ::dlclose(handle);
    return false;
  }
  const APITableEntry* table = reinterpret_cast<GetTable>(symbol)();
  std::string reason;
  if (!readTable(table, reason)) {
    error = "module " + path + ": " + reason;
    ::dlclose(handle);
    return false;
  }
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = handle;
  return true;
}

bool LoadedModule::readTable(const APITableEntry* table, std::string& error) {
  if (table == nullptr) {
    error = "no method table";
    return false;
  }
  std::vector<MethodRow> rows;
  for (size_t i = 0;; ++i) {
    if (i >= kMaxRows) {
      error = "method table has no end row";
      return false;
    }
    const APITableEntry& row = table[i];
    if (isEndRow(row)) break;
    if (row.api == nullptr || row.method == nullptr || row.handler == nullptr) {
      error = "method table row " + std::to_string(i + 1) + " is incomplete";
      return false;
    }
    rows.push_back(MethodRow{row.api, row.version, row.method, row.handler});
  }
  rows_ = std::move(rows);
  return true;
}

Lookup LoadedModule::find(const std::string& api, int version, const std::string& method,
                          EntryFunction& handler) const {
  bool apiKnown = false;
  bool versionKnown = false;
  for (const MethodRow& row : rows_) {
    if (row.api != api) continue;
    apiKnown = true;
    if (row.version != version) continue;
    versionKnown = true;
    if (row.method == method) {
      handler = row.handler;
      return Lookup::kFound;
    }
  }
  if (!apiKnown) return Lookup::kUnknownApi;
  if (!versionKnown) return Lookup::kUnknownVersion;
  return Lookup::kUnknownMethod;
}

}  // namespace orva_host
