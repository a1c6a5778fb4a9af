#include "appliance/host/routes/restore_route.h"

#include <string>
#include <utility>
#include <vector>

#include "appliance/host/routes/export_download.h"
#include "appliance/host/api/host_codes.h"
#include "appliance/host/api/json_text.h"
#include "appliance/host/routes/web_routes.h"
#include "platform/contact_store.h"
#include "platform/webapi.h"

namespace orva_host {

namespace {

constexpr const char* kLogSource = "orva-webapi";
// As many cards as one delete or export takes.
constexpr Json::ArrayIndex kMaxCards = 10000;

struct Restore {
  std::string id;
  std::string text;
  std::string etag;  // when given: the version the stored card must still have
  bool existed = false;
  std::string before;  // the stored text when it existed
};

// Whether the request has the route's shape; the reason otherwise.
bool readRequest(const Json::Value& request, std::string& user, std::vector<Restore>& cards,
                 std::string& reason) {
  if (!request.isObject() || !request["user"].isString() || !request["cards"].isArray() ||
      request["cards"].empty()) {
    reason = "a restore needs {\"user\":USER,\"cards\":[{\"id\":ID,\"text\":TEXT},...]}";
    return false;
  }
  for (const std::string& key : request.getMemberNames()) {
    if (key != "user" && key != "cards") {
      reason = "unknown key " + key;
      return false;
    }
  }
  if (request["cards"].size() > kMaxCards) {
    reason = "more than " + std::to_string(kMaxCards) + " cards";
    return false;
  }
  user = request["user"].asString();
  for (const Json::Value& card : request["cards"]) {
    const bool versioned = card.isObject() && card.isMember("etag");
    if (!card.isObject() || card.size() != (versioned ? 3u : 2u) || !card["id"].isString() ||
        !card["text"].isString() || (versioned && !card["etag"].isString())) {
      reason = "each card needs \"id\" and \"text\" (and may have \"etag\"), all texts";
      return false;
    }
    for (const Restore& seen : cards) {
      if (seen.id == card["id"].asString()) {
        reason = "card " + seen.id + " given twice";
        return false;
      }
    }
    Restore restore;
    restore.id = card["id"].asString();
    restore.text = card["text"].asString();
    if (versioned) restore.etag = card["etag"].asString();
    cards.push_back(std::move(restore));
  }
  return true;
}

// Puts back what was stored before the first written cards.
void undoWritten(DBHandler& store, const std::string& guid, const std::vector<Restore>& cards,
                 std::size_t written) {
  for (std::size_t i = 0; i < written; ++i) {
    const Restore& card = cards[i];
    const bool ok =
        card.existed ? store.UpdateCard(guid, card.id, card.before) : store.DelCard(guid, card.id);
    if (!ok) {
      ErrorLog(kLogSource, __LINE__, 1, "restore: card %s could not be put back", card.id.c_str());
    }
  }
}

}  // namespace

HttpAnswer restoreCards(const Json::Value& request) {
  std::string user;
  std::vector<Restore> cards;
  std::string reason;
  if (!readRequest(request, user, cards, reason)) return hostErrorAnswer(400, kBadRequest, reason);
  if (!isPlainExportName(user)) return hostErrorAnswer(400, kBadExportName, "user " + user);
  for (const Restore& card : cards) {
    if (!isPlainExportName(card.id)) return hostErrorAnswer(400, kBadExportName, "id " + card.id);
  }

  DBHandler store;
  const std::string guid = store.GetGUID(user);
  if (guid.empty()) return hostErrorAnswer(400, kBadRequest, "unknown user " + user);
  for (Restore& card : cards) {
    std::string version;
    card.existed = store.GetCard(guid, card.id, card.before, version);
  }
  for (std::size_t i = 0; i < cards.size(); ++i) {
    const Restore& card = cards[i];
    // A card changed since the caller saw it is not overwritten unseen; one
    // deleted since comes back.
    bool ok = false;
    if (card.existed && !card.etag.empty()) {
      std::string now;
      const DBHandler::Outcome outcome =
          store.UpdateCardIfVersion(guid, card.id, card.text, card.etag, now);
      if (outcome == DBHandler::Outcome::kChanged) {
        undoWritten(store, guid, cards, i);
        return hostErrorAnswer(409, kBadRequest,
                               "card " + card.id + " changed since: " +
                                   (now.empty() ? "deleted" : now) + "; nothing was restored");
      }
      ok = outcome == DBHandler::Outcome::kDone;
    } else {
      ok = card.existed ? store.UpdateCard(guid, card.id, card.text)
                        : store.AddCard(guid, card.id, card.text);
    }
    if (ok) continue;
    const DBHandler::CardFault fault = store.LastCardFault();
    undoWritten(store, guid, cards, i);
    if (fault == DBHandler::CardFault::kNotWritten) {
      ErrorLog(kLogSource, __LINE__, 1, "restore: the store could not write card %s",
               card.id.c_str());
      return hostErrorAnswer(500, kHostFailure, "the store could not write card " + card.id);
    }
    return hostErrorAnswer(400, kBadRequest,
                           "the store refused card " + card.id + "; nothing was restored");
  }
  Json::Value envelope(Json::objectValue);
  envelope["success"] = true;
  envelope["data"]["restored"] = static_cast<Json::UInt>(cards.size());
  return envelopeAnswer(200, envelope);
}

}  // namespace orva_host
