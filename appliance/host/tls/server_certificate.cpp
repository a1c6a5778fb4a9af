#include "appliance/host/tls/server_certificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "appliance/base/file_io.h"

namespace orva_host {

namespace {

std::string ipText(const ASN1_OCTET_STRING* ip) {
  const unsigned char* bytes = ASN1_STRING_get0_data(ip);
  const int size = ASN1_STRING_length(ip);
  char text[64];
  if (size == 4) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
  }
  if (size != 16) return std::string();
  std::string out;
  for (int i = 0; i < 16; i += 2) {
    std::snprintf(text, sizeof text, "%s%x", i ? ":" : "", (bytes[i] << 8) | bytes[i + 1]);
    out += text;
  }
  return out;
}

// A DNS name or an address of a general name; "" for other kinds. An
// address of a name constraint carries its mask after it, which is left out.
std::string nameText(const GENERAL_NAME* name) {
  if (name->type == GEN_DNS) {
    const ASN1_IA5STRING* dns = name->d.dNSName;
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                       static_cast<size_t>(ASN1_STRING_length(dns)));
  }
  if (name->type != GEN_IPADD) return std::string();
  const ASN1_OCTET_STRING* ip = name->d.iPAddress;
  const int size = ASN1_STRING_length(ip);
  if (size == 8 || size == 32) {
    ASN1_OCTET_STRING* address = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(address, ASN1_STRING_get0_data(ip), size / 2);
    std::string text = ipText(address);
    ASN1_OCTET_STRING_free(address);
    return text;
  }
  return ipText(ip);
}

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

X509Ptr fromDer(const std::string& der) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  return X509Ptr(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())), X509_free);
}

}  // namespace

bool isSignedBy(const std::string& certificateDer, const std::string& authorityDer) {
  const X509Ptr certificate = fromDer(certificateDer), authority = fromDer(authorityDer);
  if (!certificate || !authority) return false;
  EVP_PKEY* key = X509_get0_pubkey(authority.get());
  return key != nullptr && X509_verify(certificate.get(), key) == 1;
}

bool readCertificate(const std::string& path, CertificateFacts& facts) {
  std::string pem;
  if (!orva_file::readWhole(path, pem, orva_file::Links::kFollow, 1 << 20)) return false;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  if (!bio) return false;
  std::unique_ptr<X509, decltype(&X509_free)> cert(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
  if (!cert) return false;

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!X509_digest(cert.get(), EVP_sha256(), digest, &size)) return false;
  facts.sha256.clear();
  for (unsigned int i = 0; i < size; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%s%02X", i ? ":" : "", digest[i]);
    facts.sha256 += hex;
  }

  struct tm end {};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(cert.get()), &end)) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &end);
    facts.notAfter = text;
  }

  facts.names.clear();
  auto* names = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(cert.get(), NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names); ++i) {
    const std::string text = nameText(sk_GENERAL_NAME_value(names, i));
    if (!text.empty()) facts.names.push_back(text);
  }
  GENERAL_NAMES_free(names);
  facts.permitted.clear();
  auto* constraints = static_cast<NAME_CONSTRAINTS*>(
      X509_get_ext_d2i(cert.get(), NID_name_constraints, nullptr, nullptr));
  for (int i = 0;
       constraints != nullptr && i < sk_GENERAL_SUBTREE_num(constraints->permittedSubtrees); ++i) {
    const std::string text =
        nameText(sk_GENERAL_SUBTREE_value(constraints->permittedSubtrees, i)->base);
    if (!text.empty()) facts.permitted.push_back(text);
  }
  NAME_CONSTRAINTS_free(constraints);
  facts.selfSigned =
      X509_NAME_cmp(X509_get_subject_name(cert.get()), X509_get_issuer_name(cert.get())) == 0;

  const int derSize = i2d_X509(cert.get(), nullptr);
  if (derSize <= 0) return false;
  facts.der.assign(static_cast<size_t>(derSize), '\0');
  auto* out = reinterpret_cast<unsigned char*>(&facts.der[0]);
  return i2d_X509(cert.get(), &out) == derSize;
}

}  // namespace orva_host
