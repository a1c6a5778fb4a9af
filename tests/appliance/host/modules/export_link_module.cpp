// A module for the host's tests: the real module's table, except that after
// export_cards each exported card file is replaced by a symbolic link to a
// file outside the export folder, as someone who can write in that folder
// could do between the export and the host's read of it.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/webapi.h"

namespace {

using Entry = void (*)(ORVA::APIRequest*, ORVA::APIResponse*);

Entry realExport = nullptr;
std::vector<APITableEntry> table;

void exportThenLink(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  realExport(request, response);
  if (!response->IsSuccess()) return;
  const char* root = std::getenv("ORVA_ROOT");
  const Json::Value user = request->GetParam("user", Json::Value());
  const Json::Value ids = request->GetParam("id", Json::Value());
  if (root == nullptr || !user.isString() || !ids.isArray()) return;
  const std::string folder =
      std::string(root) + "/var/packages/Tessaro/var/export/" + user.asString();
  const std::string target = std::string(root) + "/outside.vcf";
  for (const Json::Value& id : ids) {
    if (!id.isString()) continue;
    const std::string temporary = folder + "/.planted-link";
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0 ||
        std::rename(temporary.c_str(), (folder + "/" + id.asString() + ".vcf").c_str()) != 0) {
      std::perror("export_link_module");
    }
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const APITableEntry* GetAPITable() {
  if (!table.empty()) return table.data();
  void* real = ::dlopen(ORVA_REAL_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (real == nullptr) return nullptr;
  using GetTable = const APITableEntry* (*)();
  const auto get = reinterpret_cast<GetTable>(::dlsym(real, "GetAPITable"));
  if (get == nullptr) return nullptr;
  for (const APITableEntry* row = get(); row->api != nullptr; ++row) {
    APITableEntry copy = *row;
    if (std::string(row->method) == "export_cards") {
      realExport = row->handler;
      copy.handler = exportThenLink;
    }
    table.push_back(copy);
  }
  table.push_back(APITableEntry{nullptr, 0, nullptr, nullptr});
  return table.data();
}
