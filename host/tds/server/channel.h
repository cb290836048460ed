// What lies between a connection's socket and its Session: the PRELOGIN
// exchange that decides encryption, the TLS handshake (inside PRELOGIN
// packets for TDS 7.x, directly on the socket for TDS 8.0), and then the TDS
// packets themselves, inside TLS or in clear. Knows nothing of sockets:
// bytes from the client go in, whole messages for the session and bytes for
// the client come out. All of a connection's packets, before the login and
// after it, in clear or out of TLS, are framed by its one MessageAssembler.
//
//   client bytes -> from_client -> next_message -> Session
//   Session reply -> from_session -> take_for_client -> client
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tds/server/tls.h"
#include "tds/wire/login.h"
#include "tds/wire/packets.h"

namespace varrow::host::tds {

struct EncryptionSettings {
  Encryption mode = Encryption::Off;
  std::shared_ptr<const TlsContext> tls;  // needed unless mode is Off
};

class Channel {
 public:
  // Each PRELOGIN and handshake message held here is bounded by
  // MAX_PRELOGIN_MESSAGE, a LOGIN7 by MAX_LOGIN_MESSAGE, both by
  // `max_message`, and so is every message after logged_in(); past its
  // bound the connection is closed. Throws
  // std::invalid_argument when the mode needs TLS and there is no context.
  Channel(EncryptionSettings settings, std::uint16_t spid, std::size_t max_message);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Bytes as they arrived from the client. A failure (a malformed PRELOGIN,
  // a handshake or record TLS refuses, a client refused for not encrypting)
  // is not thrown: closing() turns true and failure() says why, once the
  // bytes still owed to the client (a TLS alert, an error message) are in
  // take_for_client().
  void from_client(const std::uint8_t* data, std::size_t size);

  // The next whole message for the session, in clear, from LOGIN7 on;
  // PRELOGIN never reaches the session. Throws ProtocolError for packets
  // that break the framing or a message over its bound.
  std::optional<Message> next_message();

  // True while part of a message for the session has arrived.
  bool in_progress() const { return login_ || messages_.in_progress(); }

  // The session has logged in: messages up to `max_message` from here on.
  void logged_in() { messages_.set_max_message(max_message_); }

  // One whole reply from the session, to be sent as the connection's state
  // requires. Throws TlsError.
  void from_session(const Bytes& reply);

  // What to write to the client next.
  Bytes take_for_client() { return std::exchange(for_client_, Bytes{}); }

  // True once the connection is to be closed after take_for_client().
  bool closing() const { return closing_; }
  const std::string& failure() const { return failure_; }

  // True when the session's traffic travels in clear from here on, so that
  // its replies may go to the socket without the channel.
  bool in_clear() const { return state_ == State::Clear; }
  // True when the session's traffic travels inside TLS.
  bool encrypted() const { return state_ == State::Tls; }
  // For the log: "TLSv1.3 TLS_AES_256_GCM_SHA384", the same with ", login
  // only" when TLS ended after the login, or "clear".
  std::string security() const;
  // True once a TLS handshake began; established_tls() once one completed
  // ("TLSv1.2"), empty before.
  bool tls_begun() const { return tls_ != nullptr || !tls_version_.empty(); }
  const std::string& established_tls() const { return tls_version_; }

 private:
  enum class State {
    Start,            // nothing read yet
    Prelogin,         // clear TDS, waiting for PRELOGIN
    Handshake,        // TDS 7.x: TLS records inside PRELOGIN packets
    LoginTls,         // login-only: LOGIN7 inside TLS
    LoginReply,       // login-only: the LOGIN7 reply goes in clear, then Clear
    Refused,          // answered ENCRYPT_REQ to a client that cannot encrypt
    StrictHandshake,  // TDS 8.0: TLS records directly on the socket
    StrictPrelogin,   // TDS 8.0: PRELOGIN inside TLS
    Clear,            // packets in clear to and from the session
    Tls,              // packets inside TLS to and from the session
    Closed,
  };

  void advance(const std::uint8_t* data, std::size_t size);
  void start(const std::uint8_t* data, std::size_t size);
  void prelogin();
  void handshake();
  bool handshake_step(const Message& message);
  void login_tls();
  void refused();
  void strict_handshake();
  void strict_prelogin();
  void refuse(const std::string& text);
  void fail(const std::string& why);
  void send_tls_output_wrapped();

  EncryptionSettings settings_;
  std::uint16_t spid_;
  std::size_t max_message_;  // of any message after the login
  std::size_t max_login_;    // of a LOGIN7's payload
  State state_ = State::Start;
  EncryptionOutcome outcome_ = EncryptionOutcome::Clear;
  MessageAssembler messages_;
  std::unique_ptr<TlsEngine> tls_;
  std::optional<Message> login_;  // login-only: the LOGIN7 read out of TLS
  Bytes for_client_;
  bool closing_ = false;
  std::string failure_;
  std::string tls_version_;  // once the handshake completed
  std::string tls_cipher_;
};

}  // namespace varrow::host::tds
