#include "appliance/history/history_settings.h"

#include <json/json.h>

#include <sstream>

#include "appliance/history/history_files.h"
#include "appliance/store/store_files.h"

namespace orva_history {

Settings readSettings() {
  Settings settings;
  std::string text;
  const std::string path = historyRoot() + "/settings.json";
  if (!orva_store::entryExists(path) || !orva_store::readWholeFile(path, text)) return settings;
  Json::Value parsed;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &parsed, &errors) || !parsed.isObject()) return settings;
  const Json::Value& days = parsed["keep_days"];
  if (days.isInt() && days.asInt() >= 1 && days.asInt() <= kMaxKeepDays) {
    settings.keepDays = days.asInt();
  }
  const Json::Value& limit = parsed["size_limit_mb"];
  if (limit.isInt() && limit.asInt() >= 1 && limit.asInt() <= kMaxSizeLimitMb) {
    settings.sizeLimitMb = limit.asInt();
  }
  return settings;
}

bool writeSettings(const Settings& settings) {
  Json::Value value(Json::objectValue);
  value["keep_days"] = settings.keepDays;
  value["size_limit_mb"] = settings.sizeLimitMb;
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  orva_file::FolderSync sync;
  return orva_store::ensureDirs(historyRoot(), sync) &&
         orva_store::writeFileAtomic(historyRoot(), "settings.json",
                                     Json::writeString(builder, value) + "\n", sync) &&
         sync.flush();
}

}  // namespace orva_history
