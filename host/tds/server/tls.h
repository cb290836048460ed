// TLS for varrowd with OpenSSL's libssl: the server's certificate and key,
// loaded and checked once at start, and one connection's TLS state driven
// through memory buffers, so that the same state can take its records from
// inside PRELOGIN packets during a TDS 7.x handshake, straight from the
// socket afterwards, and be dropped after the login when a client asked to
// encrypt the login alone. Nothing here touches a socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tds/wire/reader_writer.h"

// OpenSSL's types, without its headers in every file that includes this one.
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct bio_st BIO;

namespace varrow::host::tds {

// A certificate or key that cannot be used; the text names the file.
class TlsSetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A handshake or record that failed: only that connection ends.
class TlsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The ALPN protocol of TDS 8.0, which starts with TLS before any TDS packet.
inline constexpr char ALPN_TDS_8_0[] = "tds/8.0";

// The server's side of TLS: certificate (with the rest of its chain, sent
// whole), private key, TLS 1.2 and 1.3 with the library's default ciphers.
// Shared by every connection; safe to use from several threads.
class TlsContext {
 public:
  // Reads PEM files (one file may hold both). Throws TlsSetupError, naming
  // the file, when a file cannot be read, is not a regular file or holds no
  // certificate or key, when the key's file may be used by others or by a
  // group other than root's or varrowd's own (the text says which), when the
  // key does not match the certificate, or when a certificate of the chain
  // has expired or is not valid yet.
  static std::shared_ptr<const TlsContext> from_files(const std::string& cert_file,
                                                      const std::string& key_file);
  // The same from PEM text; `cert_name` and `key_name` stand for the files in
  // messages.
  static std::shared_ptr<const TlsContext> from_pem(std::string_view cert_pem,
                                                    std::string_view key_pem,
                                                    const std::string& cert_name = "certificate",
                                                    const std::string& key_name = "key");
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  SSL_CTX* get() const { return ctx_; }
  // The certificate's subject and end of validity, for the start-up line.
  const std::string& summary() const { return summary_; }
  // The end of the certificate's validity.
  std::chrono::system_clock::time_point not_after() const { return not_after_; }

 private:
  explicit TlsContext(SSL_CTX* ctx) : ctx_(ctx) {}

  SSL_CTX* ctx_;
  std::string summary_;
  std::chrono::system_clock::time_point not_after_{};
};

// One connection's TLS, server side. Bytes from the client go in with
// feed(); bytes for the client come out of take_output(). Throws TlsError.
class TlsEngine {
 public:
  explicit TlsEngine(const TlsContext& context);
  ~TlsEngine();
  TlsEngine(const TlsEngine&) = delete;
  TlsEngine& operator=(const TlsEngine&) = delete;

  // Records as they arrived from the client, whole or in pieces.
  void feed(const std::uint8_t* data, std::size_t size);
  void feed(const Bytes& bytes) { feed(bytes.data(), bytes.size()); }

  // Offers nothing newer than TLS 1.2: TDS 7.x clients carry the handshake
  // inside PRELOGIN packets in request-reply turns, and TLS 1.3 ends with a
  // client flight that expects no reply (FreeTDS leaves it unsent). Call
  // before the first feed.
  void limit_to_tls_1_2();

  // Advances the handshake with what was fed: true once it is complete.
  // Whatever it produced for the client waits in take_output().
  bool handshake();
  bool established() const { return established_; }

  // Decrypts one record's worth of what was fed, appending it to `plain`.
  // False when no whole record is waiting. A close_notify from the client
  // ends the connection like any other TlsError.
  bool read_record(Bytes& plain);
  // Decrypts every whole record fed so far.
  void read_all(Bytes& plain) {
    while (read_record(plain)) {
    }
  }

  // Encrypts `plain` into records waiting in take_output().
  void write(const std::uint8_t* data, std::size_t size);

  // The bytes for the client produced so far.
  Bytes take_output();
  // The bytes fed but not read yet, handed back untouched: what follows the
  // last record once the connection leaves TLS.
  Bytes take_unread();

  // The ALPN protocol agreed, or "".
  std::string alpn() const;
  // "TLSv1.3", "TLSv1.2".
  std::string version() const;
  // The cipher suite agreed, in OpenSSL's name: "TLS_AES_256_GCM_SHA384".
  std::string cipher() const;

 private:
  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;   // owned by ssl_
  BIO* out_ = nullptr;  // owned by ssl_
  bool established_ = false;
};

}  // namespace varrow::host::tds
