// The storage folder's lock, the same flock the CardDAV server takes on
// <collections>/.Radicale.lock: shared while reading, exclusive while writing,
// so several processes and a running server can share the store.
#pragma once

namespace orva_store {

class StoreLock {
 public:
  enum Mode { kShared, kExclusive };
  // Blocks until the lock is held. The storage folder must exist; when it
  // does not, held() is false (there is nothing to read yet).
  explicit StoreLock(Mode mode);
  ~StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace orva_store
