// What a "set" has changed so far, and how to put it back when a later step
// fails: the services file's port values, the firewall, the JSON
// configuration and the property list return to what they were, so that
// "get" always shows the settings the server runs with.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "platform/conf_manager.h"

namespace orva_settings {

class SetRollback {
 public:
  // conf is the request's manager, holding the configuration as parsed
  // before anything was applied.
  explicit SetRollback(ConfManager& conf);
  SetRollback(const SetRollback&) = delete;
  SetRollback& operator=(const SetRollback&) = delete;

  // Before the section's port is written: keeps the value it has now.
  void keepSection(const char* section);
  void firewallReloaded() { firewall_ = true; }
  // Before the new settings are stored in the manager and dumped.
  void keepSettings(const Json::Value& settings) {
    oldSettings_ = settings;
    conf_ = true;
  }
  void propertyListWritten() { propertyList_ = true; }

  // Puts back everything noted, the configuration first and the firewall
  // last. Each step is tried even when an earlier one fails; a step that
  // fails is logged.
  void undo();

 private:
  struct Section {
    std::string name;
    std::string value;
  };
  ConfManager& manager_;
  std::vector<Section> sections_;
  Json::Value oldSettings_;
  bool firewall_ = false;
  bool conf_ = false;
  bool propertyList_ = false;
};

// Empties the reason that the start/stop script leaves for its last failure,
// so that an old one is not taken for this run's.
void clearRestartFailure();

// The start/stop script's reason for its last failure ("port 8008 is in use
// by another program (python3, pid 4242)"), or "" when it left none.
std::string restartFailure();

}  // namespace orva_settings
