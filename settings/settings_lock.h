// The lock that serialises "set" requests, across the host's threads and
// across processes: the services file, the configuration and the property
// list must always come from one request, never a mix of two.
#pragma once

namespace orva_settings {

class SettingsLock {
 public:
  // Waits for the lock; held() tells whether it was taken.
  SettingsLock();
  ~SettingsLock();
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

  bool held() const { return lock_ >= 0; }

 private:
  int lock_;
};

}  // namespace orva_settings
