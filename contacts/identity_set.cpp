#include "contacts/identity_set.h"

#include <algorithm>

namespace orva_contacts {

namespace {

constexpr std::size_t kTableSlots = std::size_t{1} << 16;  // 1 MB
constexpr std::size_t kMaxFilled = kTableSlots / 2;

bool isFree(const IdentityKey& key) { return key.high == 0 && key.low == 0; }

}  // namespace

IdentitySet::IdentitySet() : table_(kTableSlots) {}

bool IdentitySet::contains(const IdentityKey& key) const {
  if (isFree(key)) return hasZero_;
  // The keys are hashes already: their low bits spread evenly.
  for (std::size_t slot = key.low & (kTableSlots - 1);; slot = (slot + 1) & (kTableSlots - 1)) {
    if (isFree(table_[slot])) break;
    if (table_[slot] == key) return true;
  }
  for (const std::vector<IdentityKey>& run : runs_) {
    if (std::binary_search(run.begin(), run.end(), key)) return true;
  }
  return false;
}

void IdentitySet::insert(const IdentityKey& key) {
  if (isFree(key)) {
    hasZero_ = true;
    return;
  }
  if (contains(key)) return;
  if (filled_ == kMaxFilled) {
    std::vector<IdentityKey> run;
    run.reserve(filled_);
    for (IdentityKey& slot : table_) {
      if (!isFree(slot)) run.push_back(slot);
      slot = IdentityKey();
    }
    std::sort(run.begin(), run.end());
    runs_.push_back(std::move(run));
    filled_ = 0;
  }
  std::size_t slot = key.low & (kTableSlots - 1);
  while (!isFree(table_[slot])) slot = (slot + 1) & (kTableSlots - 1);
  table_[slot] = key;
  ++filled_;
}

}  // namespace orva_contacts
