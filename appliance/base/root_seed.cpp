#include "appliance/base/root_seed.h"

#include <sys/stat.h>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"

namespace orva_root {

namespace {

struct SeedFile {
  const char* packageName;  // file in the package folder
  const char* target;       // appliance path
  mode_t mode;
};

// What a fresh root needs before the server's settings can be read and set.
constexpr SeedFile kSeedFiles[] = {
    {"calendar_server_json.conf", "/var/packages/Tessaro/target/etc/calendar_server_json.conf",
     0644},
    {"Tessaro.sc", "/usr/local/etc/services.d/Tessaro.sc", 0644},
    {"orva_calendar_conf_dump.py", "/var/packages/Tessaro/target/tools/orva_calendar_conf_dump.py",
     0755},
    {"calendarserver_start_stop.sh",
     "/var/packages/Tessaro/target/tools/calendarserver_start_stop.sh", 0755},
    {"server_certificate.sh", "/var/packages/Tessaro/target/tools/server_certificate.sh", 0755},
    {"orva_radicale_auth.py", "/var/packages/Tessaro/target/tools/orva_radicale_auth.py", 0644},
    {"radicale.conf.in", "/var/packages/Tessaro/target/etc/templates/radicale.conf.in", 0644},
    {"nginx.conf.in", "/var/packages/Tessaro/target/etc/templates/nginx.conf.in", 0644},
    {"orva-history", "/var/packages/Tessaro/target/tools/orva-history", 0755},
};

}  // namespace

bool seedRoot(const std::string& root, const std::string& packageDir, std::string& error) {
  if (root.empty()) {
    error = "no appliance root given";
    return false;
  }
  const std::string logDir = pathUnder(root, "/var/log");
  if (!orva_file::makeFolders(logDir)) {
    error = "cannot create " + logDir;
    return false;
  }
  for (const SeedFile& file : kSeedFiles) {
    const std::string target = pathUnder(root, file.target);
    struct stat st {};
    // Whatever is there already (even something broken) is the owner's.
    if (::lstat(target.c_str(), &st) == 0) continue;
    const std::string source = packageDir + "/" + file.packageName;
    std::string content;
    if (!orva_file::readWhole(source, content)) {
      error = "cannot read the package file " + source;
      return false;
    }
    const std::string folder = orva_file::parentFolder(target);
    if (!orva_file::makeFolders(folder) || !orva_file::writeAtomic(target, content, {file.mode})) {
      error = "cannot write " + target;
      return false;
    }
  }
  return true;
}

}  // namespace orva_root
