// An uploaded file kept for the length of one request: a private file
// (mode 0600) in the host's own folder <root>/var/tmp/orva-webapi (mode
// 0700), removed when the object goes.
#pragma once

#include <string>

namespace orva_host {

// The folder the host keeps uploads in.
std::string uploadFolder(const std::string& root);

// Removes what a stopped server may have left in the upload folder.
void clearUploadFolder(const std::string& root);

// A new private file without a name in the upload folder (gone when its
// descriptor closes, so a stopped server leaves nothing): read and write,
// or -1 when the folder or the file system cannot have one.
int openNamelessFile(const std::string& root);

class UploadFile {
 public:
  UploadFile() = default;
  ~UploadFile();
  UploadFile(const UploadFile&) = delete;
  UploadFile& operator=(const UploadFile&) = delete;

  // Writes content to a new file of a unique name. False with a reason in
  // error (and nothing left behind) when it cannot.
  bool store(const std::string& root, const std::string& content, std::string& error);

  // The file's absolute path, "" before store succeeded.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace orva_host
