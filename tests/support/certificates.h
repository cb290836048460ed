// Certificates made on the spot for TLS tests and the TLS fuzz target: a CA,
// server certificates it signs (valid, expired, not valid yet), as PEM text.
// EC P-256 keys, so that making them costs little.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace varrow::test {

struct KeyPair {
  std::shared_ptr<EVP_PKEY> key;
  std::shared_ptr<X509> cert;
  std::string key_pem;
  std::string cert_pem;
};

// What `write` puts in a memory BIO, as text.
template <class Write>
std::string pem_text(Write write) {
  BIO* bio = BIO_new(BIO_s_mem());
  write(bio);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(size));
  BIO_free(bio);
  return text;
}

// A certificate for `common_name`, signed by `issuer` (self-signed when
// null), valid from `from_seconds` to `to_seconds` relative to now.
inline KeyPair make_certificate(const std::string& common_name, const KeyPair* issuer, bool is_ca,
                                long from_seconds = -3600, long to_seconds = 86400) {
  static long serial = 1;
  KeyPair made;
  made.key.reset(EVP_EC_gen("P-256"), EVP_PKEY_free);
  made.cert.reset(X509_new(), X509_free);
  X509* x = made.cert.get();
  if (!made.key || !x) throw std::runtime_error("cannot make a test key");
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
  X509_gmtime_adj(X509_getm_notBefore(x), from_seconds);
  X509_gmtime_adj(X509_getm_notAfter(x), to_seconds);
  X509_set_pubkey(x, made.key.get());
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                             0);
  X509* issuer_cert = issuer ? issuer->cert.get() : x;
  X509_set_issuer_name(x, X509_get_subject_name(issuer_cert));
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer_cert, x, nullptr, nullptr, 0);
  const auto add = [&](int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(x, extension, -1);
    X509_EXTENSION_free(extension);
  };
  add(NID_basic_constraints, is_ca ? "critical,CA:TRUE" : "CA:FALSE");
  if (!is_ca) add(NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
  X509_sign(x, issuer ? issuer->key.get() : made.key.get(), EVP_sha256());
  made.key_pem = pem_text([&](BIO* bio) {
    PEM_write_bio_PrivateKey(bio, made.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  made.cert_pem = pem_text([&](BIO* bio) { PEM_write_bio_X509(bio, x); });
  return made;
}

}  // namespace varrow::test
