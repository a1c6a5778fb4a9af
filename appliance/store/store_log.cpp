#include "appliance/store/store_log.h"

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "appliance/store/store_layout.h"

namespace orva_store {

namespace {

std::string printable(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\') {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void logRefusal(const std::string& operation, const std::string& user, const std::string& resource,
                const std::string& reason) {
  const std::string path = storeLogPath();
  orva_file::makeFolders(orva_file::parentFolder(path));
  orva_file::appendLine(path, orva_file::utcStamp() + " refused " + operation +
                                  " user=" + printable(user) + " card=" + printable(resource) +
                                  ": " + printable(reason));
}

}  // namespace orva_store
