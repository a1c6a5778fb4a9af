#include "settings/settings_lock.h"

#include "platform/system_services.h"
#include "settings/common_settings.h"

namespace orva_settings {

SettingsLock::SettingsLock() : lock_(OLIBCFileLock(kSettingsLockFile)) {}

SettingsLock::~SettingsLock() { OLIBCFileUnlock(lock_); }

}  // namespace orva_settings
