#include "appliance/host/routes/export_download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "appliance/base/file_io.h"
#include "appliance/host/api/dispatch.h"
#include "appliance/host/api/host_codes.h"
#include "appliance/host/api/json_text.h"
#include "appliance/host/http/upload_file.h"
#include "appliance/host/routes/web_routes.h"

namespace orva_host {

namespace {

constexpr const char* kExportBase = "/var/packages/Tessaro/var/export";
constexpr const char* kContacts = "ORVA.ContactAndCalendar.Contacts";
// Names per export_cards call (the module takes 10,000 at most), and cards
// per listing window of a whole book's export.
constexpr Json::ArrayIndex kCardsPerCall = 5000;

// Where the joined cards go: a file without a name in the host's own folder
// (gone when the answer is sent), so that a book of any size is never held
// in memory; memory only where no such file can be made.
class ExportBody {
 public:
  explicit ExportBody(const std::string& root) : fd_(openNamelessFile(root)) {}
  ~ExportBody() {
    if (fd_ >= 0) ::close(fd_);
  }
  ExportBody(const ExportBody&) = delete;
  ExportBody& operator=(const ExportBody&) = delete;

  bool append(const char* data, size_t size) {
    if (fd_ < 0) {
      text_.append(data, size);
      return true;
    }
    return orva_file::writeAll(fd_, data, size);
  }

  // Hands the bytes to the answer.
  void giveTo(HttpAnswer& answer) {
    if (fd_ < 0) {
      answer.body = std::move(text_);
      return;
    }
    answer.bodyFile = std::make_shared<BodyFile>(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  std::string text_;
};

// Appends the regular file name inside the folder dirFd, never following a
// symbolic link. False when there is no such file.
bool appendFileAt(int dirFd, const std::string& name, ExportBody& out) {
  const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

// Opens the user's export folder, following no symbolic link on the way
// from the root down. -1 when it is not there.
int openExportFolder(const std::string& root, const std::string& user) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::string relative = std::string(kExportBase).substr(1) + "/" + user;
  size_t start = 0;
  while (fd >= 0 && start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string segment = relative.substr(start, end - start);
    const int next = ::openat(fd, segment.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    fd = next;
    start = end + 1;
  }
  return fd;
}

// The names of a request: every text of "id", or with "all" the book's
// cards (those of "search_key" when given) but those of "except", read from
// the module a window at a time. Each batch goes to exportBatch; an answer
// other than null stops the walk and is the route's.
class ExportWalk {
 public:
  ExportWalk(const LoadedModule& module, const std::string& root, const Json::Value& request)
      : module_(module), root_(root), request_(request), user_(request["user"].asString()) {}
  ~ExportWalk() {
    if (folder_ >= 0) ::close(folder_);
  }
  ExportWalk(const ExportWalk&) = delete;
  ExportWalk& operator=(const ExportWalk&) = delete;

  bool run(HttpAnswer& refusal) {
    if (!request_["all"].asBool()) {
      const Json::Value& ids = request_["id"];
      for (Json::ArrayIndex at = 0; at < ids.size(); at += kCardsPerCall) {
        Json::Value batch(Json::arrayValue);
        for (Json::ArrayIndex i = at; i < ids.size() && i < at + kCardsPerCall; ++i) {
          batch.append(ids[i]);
        }
        if (!exportBatch(batch, refusal)) return false;
      }
      return true;
    }
    std::set<std::string> except;
    for (const Json::Value& id : request_["except"]) except.insert(id.asString());
    for (Json::UInt64 offset = 0;;) {
      Json::Value params(Json::objectValue);
      params["user"] = user_;
      params["offset"] = offset;
      params["limit"] = kCardsPerCall;
      if (request_.isMember("search_key")) params["search_key"] = request_["search_key"];
      DispatchResult listed = dispatchRequest(module_, kContacts, 1, "list_cards", params);
      if (!listed.success) {
        refusal = envelopeAnswer(200, listed.envelope);
        return false;
      }
      const Json::Value& cards = listed.envelope["data"]["cards"];
      Json::Value batch(Json::arrayValue);
      for (const Json::Value& card : cards) {
        const std::string id = card["id"].asString();
        if (except.count(id) == 0) batch.append(id);
      }
      if (!batch.empty() && !exportBatch(batch, refusal)) return false;
      if (cards.size() < kCardsPerCall) return true;
      offset += cards.size();
    }
  }

  ExportBody& body() { return body_; }

 private:
  bool exportBatch(const Json::Value& ids, HttpAnswer& refusal) {
    for (const Json::Value& id : ids) {
      if (!isPlainExportName(id.asString())) {
        refusal = hostErrorAnswer(400, kBadExportName, "id " + compactJson(id));
        return false;
      }
    }
    Json::Value params(Json::objectValue);
    params["user"] = user_;
    params["id"] = ids;
    DispatchResult result = dispatchRequest(module_, kContacts, 1, "export_cards", params);
    if (!result.success) {
      refusal = envelopeAnswer(200, result.envelope);
      return false;
    }
    if (folder_ < 0) folder_ = openExportFolder(root_, user_);
    for (const Json::Value& id : ids) {
      if (folder_ < 0 || !appendFileAt(folder_, id.asString() + ".vcf", body_)) {
        refusal = hostErrorAnswer(404, kExportMissing, id.asString() + " of " + user_);
        return false;
      }
    }
    return true;
  }

  const LoadedModule& module_;
  const std::string& root_;
  const Json::Value& request_;
  std::string user_;
  ExportBody body_{root_};
  int folder_ = -1;
};

// The request's shape; an empty text when it is one the route takes.
std::string shapeProblem(const Json::Value& request) {
  const bool all = request.isObject() && request["all"].isBool() && request["all"].asBool();
  if (!request.isObject() || !request["user"].isString() || (!all && !request["id"].isArray())) {
    return "an export needs {\"user\":USER,\"id\":[ID,...]} with texts, or "
           "{\"user\":USER,\"all\":true} with \"except\":[ID,...] and \"search_key\" if wanted";
  }
  for (const std::string& key : request.getMemberNames()) {
    const bool known = key == "user" ||
                       (all ? key == "all" || key == "except" || key == "search_key" : key == "id");
    if (!known) return "unknown key " + key;
  }
  if (all && request.isMember("except") && !request["except"].isArray()) return "except is no list";
  if (all && request.isMember("search_key") && !request["search_key"].isString()) {
    return "search_key is no text";
  }
  return "";
}

}  // namespace

bool isPlainExportName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.find("..") != std::string::npos) return false;
  for (const char c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

HttpAnswer exportDownload(const LoadedModule& module, const std::string& root,
                          const Json::Value& request) {
  const std::string problem = shapeProblem(request);
  if (!problem.empty()) return hostErrorAnswer(400, kBadRequest, problem);
  const std::string user = request["user"].asString();
  if (!isPlainExportName(user)) {
    return hostErrorAnswer(400, kBadExportName, "user " + user);
  }
  for (const Json::Value& id : request["id"]) {
    if (!id.isString() || !isPlainExportName(id.asString())) {
      return hostErrorAnswer(400, kBadExportName, "id " + compactJson(id));
    }
  }

  ExportWalk walk(module, root, request);
  HttpAnswer answer;
  if (!walk.run(answer)) return answer;
  walk.body().giveTo(answer);
  answer.contentType = "text/vcard; charset=utf-8";
  answer.headers = {{"Content-Disposition", "attachment; filename=\"contacts.vcf\""},
                    {"Cache-Control", "no-store"}};
  return answer;
}

}  // namespace orva_host
