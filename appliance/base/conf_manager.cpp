#include "platform/conf_manager.h"

ConfManager::ConfManager() {}
ConfManager::~ConfManager() {}
bool ConfManager::JsonConfParse() { return false; }
Json::Value ConfManager::JsonGet(const std::string& key) { return conf_[key]; }
void ConfManager::JsonSet(const Json::Value& value, const std::string& key) { conf_[key] = value; }
bool ConfManager::JsonConfDump() { return false; }
