#include "contacts/import_index.h"

#include "vcard/card_identity.h"
#include "vcard/card_reader.h"

namespace orva_contacts {

namespace {

// Source UIDs kept beside the book at once.
constexpr Json::ArrayIndex kSourcesAtOnce = 1000;
// Update candidates answered with the file's card.
constexpr Json::ArrayIndex kCandidatesWithCard = 200;

}  // namespace

ImportIndex::Key ImportIndex::keyOf(const std::string& text) {
  // The version of the identity text: hex of a strong hash.
  const std::string hex = DBHandler::VersionOf(orva_vcard::cardIdentity(text));
  Key key{0, 0};
  for (std::size_t i = 0; i < hex.size() && i < 32; ++i) {
    const char c = hex[i];
    const std::uint64_t digit =
        c >= 'a' ? static_cast<std::uint64_t>(c - 'a' + 10) : static_cast<std::uint64_t>(c - '0');
    std::uint64_t& half = i < 16 ? key.high : key.low;
    half = (half << 4) | digit;
  }
  return key;
}

ImportIndex::ImportIndex(DBHandler& store, const std::string& guid)
    : store_(store),
      guid_(guid),
      sources_(Json::objectValue),
      added_(Json::objectValue),
      candidates_(Json::arrayValue) {
  // The book is read a window at a time: only its identities stay.
  constexpr int kWindow = 1000;
  for (int offset = 0, total = 1; offset < total; offset += kWindow) {
    Json::Value ids(Json::arrayValue);
    Json::Value texts(Json::arrayValue);
    total = store_.GetCardWindow(ids, texts, guid_, offset, kWindow);
    for (Json::ArrayIndex i = 0; i < ids.size() && i < texts.size(); ++i) {
      identities_.insert(keyOf(texts[i].asString()));
      names_.insert(ids[i].asString());
    }
    if (ids.empty()) break;
  }
  if (!store_.GetImportSources(guid_, sources_) || !sources_.isObject()) {
    sources_ = Json::Value(Json::objectValue);
  }
}

bool ImportIndex::isNew(const std::string& text, const std::string& sourceUid) {
  if (identities_.contains(keyOf(text))) {
    ++duplicates_;
    return false;
  }
  if (sourceUid.empty()) return true;
  std::string existing;
  const Json::Value* known = sources_.find(sourceUid.data(), sourceUid.data() + sourceUid.size());
  if (known != nullptr && known->isString() && names_.count(known->asString()) > 0) {
    existing = known->asString();
  } else if (names_.count(sourceUid) > 0) {
    // A card exported from this book carries its resource name as its UID.
    existing = sourceUid;
  }
  if (existing.empty()) return true;
  Json::Value candidate(Json::objectValue);
  candidate["uid"] = sourceUid;
  candidate["id"] = existing;
  // The file's card as a record, for the page to show what changed and
  // apply what the person picks; the first ones only, so that the answer
  // stays small whatever the file.
  if (candidates_.size() < kCandidatesWithCard) {
    Json::Value labels(Json::objectValue);
    orva_vcard::readLabels(text, labels);
    orva_vcard::readCardText(text, labels, candidate["card"]);
  }
  candidates_.append(std::move(candidate));
  return false;
}

void ImportIndex::stored(const std::string& name, const std::string& text,
                         const std::string& sourceUid) {
  identities_.insert(keyOf(text));
  // Cards of one file that share a UID are all stored: only a later import
  // finds them by it.
  if (sourceUid.empty()) return;
  added_[sourceUid] = name;
  if (added_.size() >= kSourcesAtOnce) keepSources();
}

void ImportIndex::keepSources() {
  if (!added_.empty()) store_.AddImportSources(guid_, added_);
  added_ = Json::Value(Json::objectValue);
}

}  // namespace orva_contacts
