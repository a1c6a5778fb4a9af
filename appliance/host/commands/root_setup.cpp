#include "appliance/host/commands/root_setup.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "appliance/base/root_seed.h"

namespace orva_host {

namespace fs = std::filesystem;

std::string programDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  return exe.parent_path().string();
}

bool setUpRoot(const std::string& rootArg, bool verbose, std::string& root, std::string& error) {
  std::string given = rootArg;
  if (given.empty()) {
    const char* env = std::getenv("ORVA_ROOT");
    given = (env != nullptr && env[0] != '\0') ? env : "/";
  }
  std::error_code ec;
  fs::path path = fs::absolute(given, ec);
  if (ec) {
    error = "cannot resolve root " + given + ": " + ec.message();
    return false;
  }
  path = path.lexically_normal();
  std::string text = path.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  fs::create_directories(text, ec);
  if (ec || !fs::is_directory(text)) {
    error = "cannot create root " + text + (ec ? ": " + ec.message() : "");
    return false;
  }
  if (::setenv("ORVA_ROOT", text.c_str(), 1) != 0 ||
      (verbose && ::setenv("ORVA_VERBOSE", "1", 1) != 0)) {
    error = "cannot set the environment";
    return false;
  }
  const std::string dir = programDir();
  const std::string packageDir = (dir.empty() ? std::string(".") : dir) + "/" ORVA_PACKAGE_DIR_REL;
  std::string reason;
  if (!orva_root::seedRoot(text, packageDir, reason)) {
    error = "cannot seed root " + text + ": " + reason;
    return false;
  }
  root = text;
  return true;
}

std::string modulePath(const std::string& moduleArg) {
  if (moduleArg.empty()) return programDir() + "/ORVA.ContactAndCalendar.so";
  std::error_code ec;
  const fs::path path = fs::absolute(moduleArg, ec);
  // An absolute path keeps dlopen from searching the library path for a
  // bare file name.
  return ec ? moduleArg : path.lexically_normal().string();
}

std::string uiFolderPath(const std::string& uiArg) {
  if (uiArg.empty()) return programDir() + "/" ORVA_UI_DIR_REL;
  std::error_code ec;
  const fs::path path = fs::absolute(uiArg, ec);
  return ec ? uiArg : path.lexically_normal().string();
}

}  // namespace orva_host
