#include "tests/support/temp_root.h"

#include <json/json.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "appliance/base/root_seed.h"

namespace orva_test {

TempRoot::TempRoot(bool seed) {
  std::string pattern = (std::filesystem::temp_directory_path() / "orva-root-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  const char* previous = std::getenv("ORVA_ROOT");
  hadPreviousRoot_ = previous != nullptr;
  if (hadPreviousRoot_) previousRoot_ = previous;
  ::setenv("ORVA_ROOT", path_.c_str(), 1);
  if (seed) {
    std::string error;
    if (!orva_root::seedRoot(path_, ORVA_PACKAGE_DIR, error)) {
      throw std::runtime_error("seeding failed: " + error);
    }
  }
}

TempRoot::~TempRoot() {
  if (hadPreviousRoot_) {
    ::setenv("ORVA_ROOT", previousRoot_.c_str(), 1);
  } else {
    ::unsetenv("ORVA_ROOT");
  }
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempRoot::at(const std::string& absolutePath) const { return path_ + absolutePath; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string toJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

Json::Value parseJson(const std::string& text) {
  Json::CharReaderBuilder builder;
  Json::Value value;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &value, &errors)) return Json::Value();
  return value;
}

}  // namespace orva_test
