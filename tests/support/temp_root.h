// A fresh appliance root for one test: a temporary folder, made the process's
// ORVA_ROOT for the test's length and removed afterwards.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace orva_test {

class TempRoot {
 public:
  // seed: run the appliance's root seeding (configuration, services file,
  // package programs) as the host does at start.
  explicit TempRoot(bool seed = false);
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  // The root-relative path ("/var/log/webapi.log") resolved under the root.
  std::string at(const std::string& absolutePath) const;

 private:
  std::string path_;
  std::string previousRoot_;
  bool hadPreviousRoot_;
};

// Whole file as a string ("" when it cannot be read).
std::string readFile(const std::string& path);
// Writes the file whole (parents must exist); true on success.
bool writeFile(const std::string& path, const std::string& content);
// Lines of a text file, without their line feeds.
std::vector<std::string> readLines(const std::string& path);

// Compact one-line JSON text of a value.
std::string toJson(const Json::Value& value);
// Parses JSON text; a null value when it is not JSON.
Json::Value parseJson(const std::string& text);

}  // namespace orva_test
