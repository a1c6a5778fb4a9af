#include "appliance/host/routes/export_download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "appliance/host/api/dispatch.h"
#include "appliance/host/api/host_codes.h"
#include "appliance/host/api/json_text.h"
#include "appliance/host/routes/web_routes.h"

namespace orva_host {

namespace {

constexpr const char* kExportBase = "/var/packages/Tessaro/var/export";

// Appends the regular file name inside the folder dirFd, never following a
// symbolic link. False when there is no such file.
bool appendFileAt(int dirFd, const std::string& name, std::string& out) {
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
    out.append(buffer, static_cast<size_t>(n));
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
  if (!request.isObject() || !request["user"].isString() || !request["id"].isArray()) {
    return hostErrorAnswer(400, kBadRequest,
                           "an export needs {\"user\":USER,\"id\":[ID,...]} with texts");
  }
  for (const std::string& key : request.getMemberNames()) {
    if (key != "user" && key != "id")
      return hostErrorAnswer(400, kBadRequest, "unknown key " + key);
  }
  const std::string user = request["user"].asString();
  if (!isPlainExportName(user)) {
    return hostErrorAnswer(400, kBadExportName, "user " + user);
  }
  for (const Json::Value& id : request["id"]) {
    if (!id.isString() || !isPlainExportName(id.asString())) {
      return hostErrorAnswer(400, kBadExportName, "id " + compactJson(id));
    }
  }

  Json::Value params(Json::objectValue);
  params["user"] = request["user"];
  params["id"] = request["id"];
  DispatchResult result =
      dispatchRequest(module, "ORVA.ContactAndCalendar.Contacts", 1, "export_cards", params);
  if (!result.success) return envelopeAnswer(200, result.envelope);

  HttpAnswer answer;
  const int folder = openExportFolder(root, user);
  for (const Json::Value& id : request["id"]) {
    if (folder < 0 || !appendFileAt(folder, id.asString() + ".vcf", answer.body)) {
      if (folder >= 0) ::close(folder);
      return hostErrorAnswer(404, kExportMissing, id.asString() + " of " + user);
    }
  }
  if (folder >= 0) ::close(folder);
  answer.contentType = "text/vcard; charset=utf-8";
  answer.headers = {{"Content-Disposition", "attachment; filename=\"contacts.vcf\""},
                    {"Cache-Control", "no-store"}};
  return answer;
}

}  // namespace orva_host
