// A set of 128-bit card identities that costs 16 bytes per key beyond a
// fixed table, so that an import's memory grows by little more than that per
// card, whatever the file's size.
#pragma once

#include <cstdint>
#include <vector>

namespace orva_contacts {

struct IdentityKey {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  bool operator==(const IdentityKey& other) const { return high == other.high && low == other.low; }
  bool operator<(const IdentityKey& other) const {
    return high != other.high ? high < other.high : low < other.low;
  }
};

class IdentitySet {
 public:
  IdentitySet();
  bool contains(const IdentityKey& key) const;
  void insert(const IdentityKey& key);

 private:
  // Recent keys in an open-addressed table of fixed size, at most half full;
  // when it is, they move into a sorted run of their own, sized exactly.
  std::vector<IdentityKey> table_;
  std::size_t filled_ = 0;
  bool hasZero_ = false;  // the all-zero key, which marks a free slot
  std::vector<std::vector<IdentityKey>> runs_;
};

}  // namespace orva_contacts
