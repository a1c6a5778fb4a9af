// ConfManager over the server's JSON configuration file, resolved under the
// appliance root. Each manager holds its own copy; the file is replaced
// atomically on dump, so a reader never sees half a configuration.
#include "platform/conf_manager.h"

#include <json/json.h>

#include <memory>
#include <sstream>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"

namespace {
constexpr const char* kConfPath = "/var/packages/Tessaro/target/etc/calendar_server_json.conf";
}  // namespace

ConfManager::ConfManager() : path_(orva_root::underRoot(kConfPath)), conf_(Json::objectValue) {}

ConfManager::~ConfManager() = default;

bool ConfManager::JsonConfParse() {
  std::string text;
  if (!orva_file::readWhole(path_, text)) return false;
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["failIfExtra"] = true;
  builder["rejectDupKeys"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value parsed;
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors)) return false;
  if (!parsed.isObject()) return false;
  conf_.swap(parsed);
  return true;
}

Json::Value ConfManager::JsonGet(const std::string& key) {
  return conf_.isObject() ? conf_.get(key, Json::Value()) : Json::Value();
}

// An object is merged into the stored object member by member, so that
// settings the caller does not know of (the server's "realmName") survive an
// update of the others. Any other value replaces the member.
void ConfManager::JsonSet(const Json::Value& value, const std::string& key) {
  if (!conf_.isObject()) conf_ = Json::Value(Json::objectValue);
  Json::Value& stored = conf_[key];
  if (!value.isObject() || !stored.isObject()) {
    stored = value;
    return;
  }
  for (const std::string& name : value.getMemberNames()) stored[name] = value[name];
}

bool ConfManager::JsonConfDump() {
  if (!conf_.isObject()) return false;
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "    ";
  builder["emitUTF8"] = true;
  return orva_file::writeAtomic(path_, Json::writeString(builder, conf_) + "\n");
}
