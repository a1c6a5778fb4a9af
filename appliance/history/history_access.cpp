#include "appliance/history/history_access.h"

#include "appliance/history/history_views.h"
#include "appliance/store/card_version.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"

namespace orva_history {

Result failed(Outcome outcome, std::string detail) {
  Result result;
  result.outcome = outcome;
  result.detail = std::move(detail);
  return result;
}

Result done(Json::Value data) {
  Result result;
  result.outcome = Outcome::kDone;
  result.data = std::move(data);
  return result;
}

bool isAddressBook(const std::string& collection) { return collection == orva_store::kBookName; }

// With the lock held: the collection's settled history, or why there is none.
bool openFor(const std::string& user, const std::string& collection, History& history,
             Result& refusal) {
  if (!orva_store::isSafeUserName(user) || !orva_store::isSafeName(collection)) {
    refusal = failed(Outcome::kMissing, "no collection " + collection + " of " + user);
    return false;
  }
  if (!settledHistory(user, collection, history)) {
    refusal = failed(Outcome::kNotWritten, "the history of " + collection + " cannot be read");
    return false;
  }
  if (!history.exists) {
    refusal = failed(Outcome::kMissing, "nothing kept of " + collection + " of " + user);
    return false;
  }
  return true;
}

std::string versionOnDisk(const std::string& path) {
  std::string text;
  if (!orva_store::isRegularFile(path) || !orva_store::readWholeFile(path, text)) return "";
  return orva_store::cardVersion(text);
}

}  // namespace orva_history
