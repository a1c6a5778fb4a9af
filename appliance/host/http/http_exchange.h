// One HTTP request as the routes see it, whichever code read it off the
// wire, and the answer they give back.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orva_host {

// One field of a multipart/form-data body.
struct FormPart {
  std::string name;
  std::string filename;  // the browser's file name; empty for a text field
  std::string content;
};

struct HttpRequest {
  std::string method;  // as sent: "GET", "POST", ...
  std::string path;    // percent-decoded, without the query
  std::string authorization;
  std::string contentType;
  std::string body;  // empty when the body was multipart (see parts)
  bool multipart = false;
  std::vector<FormPart> parts;
};

// An open file whose bytes are an answer's body: a large download is sent
// from it a piece at a time instead of held in memory. Closed when the last
// holder goes.
class BodyFile {
 public:
  explicit BodyFile(int fd) : fd_(fd) {}
  ~BodyFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  BodyFile(const BodyFile&) = delete;
  BodyFile& operator=(const BodyFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

struct HttpAnswer {
  int status = 200;
  std::string contentType;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // When set, the body is this file's content from its start (body is empty).
  std::shared_ptr<BodyFile> bodyFile;
  // What the body was made from (a module's answer), held so that the worker
  // releases it once the answer is on its way rather than before sending.
  std::shared_ptr<void> leftovers;
};

}  // namespace orva_host
