// The server's JSON configuration file manager
// (/var/packages/Tessaro/target/etc/calendar_server_json.conf).
#pragma once

#include <json/value.h>

#include <string>

class ConfManager {
 public:
  ConfManager();
  ~ConfManager();

  // Reads and parses the configuration file; false when it cannot be read or
  // is not a JSON object.
  bool JsonConfParse();
  // The value stored under key in the parsed configuration (null if absent).
  Json::Value JsonGet(const std::string& key);
  // Stores value under key in the manager's copy. When both the stored value
  // and value are objects, value's members replace or join the stored ones
  // and the others are kept; otherwise value replaces the member.
  void JsonSet(const Json::Value& value, const std::string& key);
  // Writes the manager's copy back to the file atomically; false on failure.
  bool JsonConfDump();

 private:
  std::string path_;
  Json::Value conf_;
};
