#include "appliance/store/card_version.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace orva_store {

std::string cardVersion(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1 ||
      size < 16) {
    throw std::runtime_error("no SHA-256 digest");
  }
  static const char kHex[] = "0123456789abcdef";
  std::string version(32, '0');
  for (int i = 0; i < 16; ++i) {
    version[2 * i] = kHex[digest[i] >> 4];
    version[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  return version;
}

}  // namespace orva_store
