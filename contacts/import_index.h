// What an import finds in the book before it: the cards already there (by
// their properties) and the source UIDs of cards imported before, so that a
// re-import adds no card twice.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <set>
#include <string>

#include "contacts/identity_set.h"
#include "platform/contact_store.h"

namespace orva_contacts {

class ImportIndex {
 public:
  // Reads the book's cards and source UIDs once, for the whole import.
  ImportIndex(DBHandler& store, const std::string& guid);

  // True when the card is to be stored. False, counted, for a card whose
  // properties equal those of a card in the book (a duplicate), and for one
  // whose source UID is that of a card in the book, imported before or
  // exported from it (an update candidate, reported with that card's id).
  bool isNew(const std::string& text, const std::string& sourceUid);
  // A card just stored: later cards equal to it are duplicates, and its
  // source UID is kept for later imports (beside the book, a batch at a
  // time, so that memory does not grow with the file).
  void stored(const std::string& name, const std::string& text, const std::string& sourceUid);
  // Keeps the source UIDs of the cards stored not yet kept, beside the book.
  void keepSources();

  std::uint64_t duplicates() const { return duplicates_; }
  // [{"uid": source UID, "id": the book's card, "card": the file's card
  // as a record (the first 200 only)}], in the file's order.
  const Json::Value& candidates() const { return candidates_; }

 private:
  // 128 bits of a card's identity hash: enough to tell cards apart.
  using Key = IdentityKey;
  static Key keyOf(const std::string& text);

  DBHandler& store_;
  std::string guid_;
  IdentitySet identities_;
  std::set<std::string> names_;
  Json::Value sources_;
  Json::Value added_;
  std::uint64_t duplicates_ = 0;
  Json::Value candidates_;
};

}  // namespace orva_contacts
