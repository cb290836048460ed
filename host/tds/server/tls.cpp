#include "tds/server/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ods/secure_bytes.h"
#include "ods/wipe.h"

namespace varrow::host::tds {
namespace {

// Certificate and key files are small; a larger one is a wrong path (a
// device, a log file) rather than something to read to the end.
constexpr std::size_t MAX_PEM_FILE = 1 << 20;

// The most plaintext one TLS record carries.
constexpr std::size_t MAX_RECORD_PLAINTEXT = 16384;

// The reasons OpenSSL queued for the last failure on this thread, emptying
// the queue.
std::string openssl_errors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text;
}

// Whether others may learn a private key from its file's mode, as
// PostgreSQL and OpenSSH refuse keys: no access for others, no writing by
// the group, and reading by the group only for root's group or varrowd's.
void check_key_mode(const struct stat& info, const std::string& path) {
  std::string broken;
  if ((info.st_mode & S_IRWXO) != 0) {
    broken = "others may use it";
  } else if ((info.st_mode & (S_IWGRP | S_IXGRP)) != 0) {
    broken = "its group may do more than read it";
  } else if ((info.st_mode & S_IRGRP) != 0 && info.st_gid != 0 && info.st_gid != ::getegid()) {
    broken = "its group may read it, and is neither root's nor varrowd's own";
  }
  if (broken.empty()) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  throw TlsSetupError("the private key file " + path + " has mode " + mode + ": " + broken +
                      " (chmod 600, or 640 for root's group or varrowd's)");
}

// Only a regular file is read, and opening it does not wait: a FIFO or a
// device given by mistake would otherwise hold varrowd at start.
SecretString read_pem_file(const std::string& path, const char* what, bool is_key) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const auto cannot_read = [&] {
    const int error = errno;
    return TlsSetupError("cannot read the " + std::string(what) + " file " + path + ": " +
                         std::strerror(error));
  };
  if (fd < 0) throw cannot_read();
  struct Closing {
    int fd;
    ~Closing() { ::close(fd); }
  } closing{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw cannot_read();
  if (!S_ISREG(info.st_mode)) {
    throw TlsSetupError("the " + std::string(what) + " file " + path + " is not a regular file");
  }
  if (is_key) check_key_mode(info, path);
  // The key's text is cleared when it is freed, and so is the buffer it
  // passed through.
  SecretString text;
  char buffer[4096];
  struct Wiping {
    char* data;
    std::size_t size;
    ~Wiping() { wipe(data, size); }
  } wiping{buffer, sizeof buffer};
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw cannot_read();
    if (n == 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > MAX_PEM_FILE) {
      throw TlsSetupError("the " + std::string(what) + " file " + path + " is too large");
    }
  }
}

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxFree {
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};

std::unique_ptr<BIO, BioFree> memory_bio(std::string_view text) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  if (!bio) throw TlsSetupError("out of memory reading PEM text");
  return bio;
}

// Refuses the password prompt OpenSSL would otherwise show for an
// encrypted key: varrowd starts unattended.
int no_password(char*, int, int, void*) {
  return 0;
}

std::string time_text(const ASN1_TIME* time) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || ASN1_TIME_print(bio.get(), time) != 1) return "?";
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(std::max(0L, size)));
}

std::string subject_text(X509* cert) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert), 0, XN_FLAG_RFC2253) < 0) {
    return "?";
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(std::max(0L, size)));
}

// Clients would refuse an expired or not yet valid certificate anyway; at
// start the operator learns which file to replace.
void check_validity(X509* cert, const std::string& cert_name) {
  const std::string subject = subject_text(cert);
  if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0) {
    throw TlsSetupError("the certificate " + subject + " in " + cert_name + " expired on " +
                        time_text(X509_get0_notAfter(cert)));
  }
  if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0) {
    throw TlsSetupError("the certificate " + subject + " in " + cert_name +
                        " is not valid before " + time_text(X509_get0_notBefore(cert)));
  }
}

// TDS 8.0 clients offer "tds/8.0". A client that offers only other
// protocols gets the fatal no_application_protocol alert (RFC 7301, 3.2);
// one that offers none is not asked here, and is served.
int select_alpn(SSL*, const unsigned char** out, unsigned char* out_length,
                const unsigned char* offered, unsigned int offered_length, void*) {
  static const unsigned char ours[] = {7, 't', 'd', 's', '/', '8', '.', '0'};
  unsigned char* selected = nullptr;
  if (SSL_select_next_proto(&selected, out_length, ours, sizeof ours, offered, offered_length) ==
      OPENSSL_NPN_NEGOTIATED) {
    *out = selected;
    return SSL_TLSEXT_ERR_OK;
  }
  return SSL_TLSEXT_ERR_ALERT_FATAL;
}

}  // namespace

std::shared_ptr<const TlsContext> TlsContext::from_files(const std::string& cert_file,
                                                         const std::string& key_file) {
  // One file may hold both, as with haproxy; then it is held to the key's rule.
  const SecretString cert = read_pem_file(cert_file, "certificate", false);
  const SecretString key = read_pem_file(key_file, "private key", true);
  return from_pem(cert, key, cert_file, key_file);
}

std::shared_ptr<const TlsContext> TlsContext::from_pem(std::string_view cert_pem,
                                                       std::string_view key_pem,
                                                       const std::string& cert_name,
                                                       const std::string& key_name) {
  ERR_clear_error();
  std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx) throw TlsSetupError("cannot set up TLS: " + openssl_errors());
  SSL_CTX* c = ctx.get();
  SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
  // No renegotiation and no session resumption: every connection makes one
  // full handshake, and no record carries anything but TDS packets once it
  // is done (TLS 1.3 tickets would arrive where a TDS 7.x client expects
  // its login reply).
  SSL_CTX_set_options(c, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET);
  // Decrypted records hold logins and call values: cleared once read, as
  // the rest of varrowd clears its copies.
  SSL_CTX_set_options(c, SSL_OP_CLEANSE_PLAINTEXT);
  SSL_CTX_set_num_tickets(c, 0);
  SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_alpn_select_cb(c, select_alpn, nullptr);

  // The leaf first, then the rest of the chain, all sent to the client.
  auto certs = memory_bio(cert_pem);
  std::unique_ptr<X509, X509Free> leaf(
      PEM_read_bio_X509_AUX(certs.get(), nullptr, no_password, nullptr));
  if (!leaf) throw TlsSetupError("no PEM certificate in " + cert_name);
  check_validity(leaf.get(), cert_name);
  if (SSL_CTX_use_certificate(c, leaf.get()) != 1) {
    throw TlsSetupError("cannot use the certificate in " + cert_name + ": " + openssl_errors());
  }
  for (;;) {
    std::unique_ptr<X509, X509Free> next(
        PEM_read_bio_X509(certs.get(), nullptr, no_password, nullptr));
    if (!next) break;
    check_validity(next.get(), cert_name);
    if (SSL_CTX_add0_chain_cert(c, next.get()) != 1) {
      throw TlsSetupError("cannot use the chain in " + cert_name + ": " + openssl_errors());
    }
    next.release();  // the context owns it now
  }
  ERR_clear_error();  // the end of the chain reads as "no start line"

  auto keys = memory_bio(key_pem);
  std::unique_ptr<EVP_PKEY, KeyFree> key(
      PEM_read_bio_PrivateKey(keys.get(), nullptr, no_password, nullptr));
  if (!key) {
    ERR_clear_error();
    throw TlsSetupError("no unencrypted PEM private key in " + key_name);
  }
  if (SSL_CTX_use_PrivateKey(c, key.get()) != 1 || SSL_CTX_check_private_key(c) != 1) {
    ERR_clear_error();
    throw TlsSetupError("the private key in " + key_name + " does not match the certificate in " +
                        cert_name);
  }

  std::shared_ptr<TlsContext> context(new TlsContext(ctx.release()));
  context->summary_ =
      subject_text(leaf.get()) + ", valid until " + time_text(X509_get0_notAfter(leaf.get()));
  std::tm until{};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(leaf.get()), &until) == 1) {
    context->not_after_ = std::chrono::system_clock::from_time_t(::timegm(&until));
  }
  return context;
}

TlsContext::~TlsContext() {
  SSL_CTX_free(ctx_);
}

TlsEngine::TlsEngine(const TlsContext& context) {
  ERR_clear_error();
  ssl_ = SSL_new(context.get());
  in_ = BIO_new(BIO_s_mem());
  out_ = BIO_new(BIO_s_mem());
  if (!ssl_ || !in_ || !out_) {
    BIO_free(in_);
    BIO_free(out_);
    SSL_free(ssl_);
    throw TlsError("cannot set up TLS for the connection: " + openssl_errors());
  }
  // An empty input buffer means "wait for more", never end of stream.
  BIO_set_mem_eof_return(in_, -1);
  SSL_set_bio(ssl_, in_, out_);
  SSL_set_accept_state(ssl_);
}

TlsEngine::~TlsEngine() {
  SSL_free(ssl_);  // frees both buffers
}

void TlsEngine::limit_to_tls_1_2() {
  SSL_set_max_proto_version(ssl_, TLS1_2_VERSION);
}

void TlsEngine::feed(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const int n = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    if (BIO_write(in_, data, n) != n) throw TlsError("out of memory buffering TLS records");
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

bool TlsEngine::handshake() {
  if (established_) return true;
  ERR_clear_error();
  const int result = SSL_do_handshake(ssl_);
  if (result == 1) {
    established_ = true;
    return true;
  }
  const int error = SSL_get_error(ssl_, result);
  if (error == SSL_ERROR_WANT_READ) return false;
  const std::string reasons = openssl_errors();
  throw TlsError("TLS handshake failed" + (reasons.empty() ? "" : ": " + reasons));
}

bool TlsEngine::read_record(Bytes& plain) {
  if (!established_) throw TlsError("TLS data before the handshake completed");
  // Nothing fed and nothing decrypted waiting: no record, known without a
  // failed SSL_read.
  if (SSL_pending(ssl_) == 0 && BIO_ctrl_pending(in_) == 0) return false;
  // Decrypted on the stack and appended at its length: growing `plain` by a
  // whole record's room first zero-filled 16 KiB for every request.
  std::uint8_t record[MAX_RECORD_PLAINTEXT];
  ERR_clear_error();
  const int n = SSL_read(ssl_, record, static_cast<int>(sizeof record));
  if (n > 0) {
    plain.insert(plain.end(), record, record + n);
    wipe(record, static_cast<std::size_t>(n));
    return true;
  }
  const int error = SSL_get_error(ssl_, n);
  if (error == SSL_ERROR_WANT_READ) return false;
  if (error == SSL_ERROR_ZERO_RETURN) throw TlsError("the client closed TLS");
  const std::string reasons = openssl_errors();
  throw TlsError("TLS record refused" + (reasons.empty() ? "" : ": " + reasons));
}

void TlsEngine::write(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const int n = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    ERR_clear_error();
    const int written = SSL_write(ssl_, data, n);
    if (written <= 0) throw TlsError("cannot encrypt the reply: " + openssl_errors());
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

namespace {

Bytes drain(BIO* bio) {
  Bytes bytes(BIO_ctrl_pending(bio));
  if (!bytes.empty()) {
    const int n = BIO_read(bio, bytes.data(), static_cast<int>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(std::max(n, 0)));
  }
  return bytes;
}

}  // namespace

Bytes TlsEngine::take_output() {
  return drain(out_);
}

Bytes TlsEngine::take_unread() {
  return drain(in_);
}

std::string TlsEngine::alpn() const {
  const unsigned char* data = nullptr;
  unsigned int length = 0;
  SSL_get0_alpn_selected(ssl_, &data, &length);
  return data ? std::string(reinterpret_cast<const char*>(data), length) : std::string();
}

std::string TlsEngine::version() const {
  return SSL_get_version(ssl_);
}

std::string TlsEngine::cipher() const {
  const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_);
  return cipher != nullptr ? SSL_CIPHER_get_name(cipher) : "";
}

}  // namespace varrow::host::tds
