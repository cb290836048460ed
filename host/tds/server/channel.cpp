#include "tds/server/channel.h"

#include <algorithm>
#include <stdexcept>

#include "tds/session/login_policy.h"

namespace varrow::host::tds {
namespace {

// The first byte of a TLS handshake record: a TDS 8.0 ClientHello. No TDS
// packet type has this value.
constexpr std::uint8_t TLS_HANDSHAKE_RECORD = 0x16;
constexpr std::uint8_t TLS_ALERT_RECORD = 0x15;
constexpr std::size_t TLS_RECORD_HEADER = 5;

void append(Bytes& to, const Bytes& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

// A client may end TLS with close_notify after its login; that alert is
// all that can sit between the LOGIN7 record and the clear packets.
void drop_leading_alert(Bytes& raw) {
  if (raw.size() < TLS_RECORD_HEADER || raw[0] != TLS_ALERT_RECORD) return;
  const std::size_t length = TLS_RECORD_HEADER + (std::size_t{raw[3]} << 8 | raw[4]);
  raw.erase(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(std::min(length, raw.size())));
}

}  // namespace

Channel::Channel(EncryptionSettings settings, std::uint16_t spid, std::size_t max_message)
    : settings_(std::move(settings)),
      spid_(spid),
      max_message_(max_message),
      max_login_(std::min(max_message, MAX_LOGIN_MESSAGE)),
      messages_(std::min(max_message, MAX_PRELOGIN_MESSAGE)) {
  if (settings_.mode != Encryption::Off && !settings_.tls) {
    throw std::invalid_argument("encryption needs a certificate and key");
  }
}

Channel::~Channel() = default;

void Channel::from_client(const std::uint8_t* data, std::size_t size) {
  if (state_ == State::Closed || size == 0) return;
  try {
    advance(data, size);
  } catch (const TlsError& e) {
    fail(e.what());
  } catch (const ProtocolError& e) {
    fail(e.what());
  }
}

std::optional<Message> Channel::next_message() {
  switch (state_) {
    case State::LoginReply:
      if (login_) return std::exchange(login_, std::nullopt);
      [[fallthrough]];
    case State::Clear:
    case State::Tls:
      return messages_.next();
    default:
      return std::nullopt;
  }
}

void Channel::advance(const std::uint8_t* data, std::size_t size) {
  switch (state_) {
    case State::Start:
      start(data, size);
      return;
    case State::Prelogin:
      messages_.feed(data, size);
      prelogin();
      return;
    case State::Handshake:
      messages_.feed(data, size);
      handshake();
      return;
    case State::LoginTls:
      tls_->feed(data, size);
      login_tls();
      return;
    case State::Refused:
      messages_.feed(data, size);
      refused();
      return;
    case State::StrictHandshake:
      tls_->feed(data, size);
      strict_handshake();
      return;
    case State::StrictPrelogin:
      tls_->feed(data, size);
      strict_prelogin();
      return;
    case State::LoginReply:  // the client did not wait for its login reply
    case State::Clear:
      messages_.feed(data, size);
      return;
    case State::Tls: {
      tls_->feed(data, size);
      Bytes plain;
      tls_->read_all(plain);
      messages_.feed(plain.data(), plain.size());
      append(for_client_, tls_->take_output());
      return;
    }
    case State::Closed:
      return;
  }
}

void Channel::start(const std::uint8_t* data, std::size_t size) {
  if (data[0] == TLS_HANDSHAKE_RECORD) {
    if (settings_.mode == Encryption::Off) {
      fail("a TLS ClientHello (TDS 8.0), and varrowd offers no encryption");
      return;
    }
    tls_ = std::make_unique<TlsEngine>(*settings_.tls);
    state_ = State::StrictHandshake;
    tls_->feed(data, size);
    strict_handshake();
    return;
  }
  messages_.feed(data, size);
  if (data[0] == PACKET_PRELOGIN) {
    state_ = State::Prelogin;
    prelogin();
  } else if (settings_.mode == Encryption::Required) {
    // A LOGIN7 (or anything else) before PRELOGIN: nothing was negotiated,
    // so nothing was encrypted.
    state_ = State::Refused;
    refused();
  } else {
    state_ = State::Clear;
    messages_.set_max_message(max_login_);
  }
}

void Channel::prelogin() {
  const auto message = messages_.next();
  if (!message) return;
  if (message->type != PACKET_PRELOGIN) throw ProtocolError("expected PRELOGIN");
  const Negotiated negotiated =
      negotiate_encryption(settings_.mode, prelogin_encryption(message->payload));
  append(for_client_, prelogin_reply(spid_, negotiated.answer));
  outcome_ = negotiated.outcome;
  switch (outcome_) {
    case EncryptionOutcome::Clear:
      state_ = State::Clear;
      messages_.set_max_message(max_login_);
      return;
    case EncryptionOutcome::Refuse:
      state_ = State::Refused;
      refused();
      return;
    case EncryptionOutcome::LoginOnly:
    case EncryptionOutcome::Full:
      tls_ = std::make_unique<TlsEngine>(*settings_.tls);
      tls_->limit_to_tls_1_2();
      state_ = State::Handshake;
      handshake();
      return;
  }
}

void Channel::handshake() {
  while (const auto message = messages_.next()) {
    if (handshake_step(*message)) return;
  }
}

bool Channel::handshake_step(const Message& message) {
  if (message.type != PACKET_PRELOGIN) {
    throw ProtocolError("expected the TLS handshake inside PRELOGIN packets");
  }
  tls_->feed(message.payload);
  const bool done = tls_->handshake();
  send_tls_output_wrapped();
  if (!done) return false;
  tls_version_ = tls_->version();
  tls_cipher_ = tls_->cipher();
  // From here on, records travel directly on the socket, and the packets
  // inside them are framed here as the clear ones were.
  tls_->feed(messages_.take_unread());
  messages_.set_max_message(max_login_);
  if (outcome_ == EncryptionOutcome::LoginOnly) {
    state_ = State::LoginTls;
    login_tls();
  } else {
    state_ = State::Tls;
    Bytes plain;
    tls_->read_all(plain);
    messages_.feed(plain.data(), plain.size());
    append(for_client_, tls_->take_output());
  }
  return true;
}

void Channel::login_tls() {
  // Record by record, so that nothing past the LOGIN7 is taken for TLS.
  Bytes plain;
  while (!login_ && tls_->read_record(plain)) {
    messages_.feed(plain.data(), plain.size());
    plain = Bytes();
    login_ = messages_.next();
  }
  if (!login_) return;
  if (login_->type != PACKET_LOGIN7) throw ProtocolError("expected LOGIN7 inside TLS");
  if (messages_.in_progress()) throw ProtocolError("more than LOGIN7 inside TLS");
  Bytes rest = tls_->take_unread();
  drop_leading_alert(rest);
  tls_.reset();
  state_ = State::LoginReply;
  messages_.feed(rest.data(), rest.size());
}

void Channel::refused() {
  const auto message = messages_.next();
  if (!message) return;
  if (message->type == PACKET_PRELOGIN) {
    // The client said it cannot encrypt, yet starts a handshake: let it.
    outcome_ = EncryptionOutcome::Full;
    tls_ = std::make_unique<TlsEngine>(*settings_.tls);
    tls_->limit_to_tls_1_2();
    state_ = State::Handshake;
    if (!handshake_step(*message)) handshake();
    return;
  }
  // Whatever the message is, and a LOGIN7 above all, it is not read.
  refuse(
      "Encryption is required to connect to this server; the client did not offer it. "
      "Connect with encryption turned on.");
}

std::string Channel::security() const {
  if (tls_version_.empty()) return "clear";
  return tls_version_ + " " + tls_cipher_ +
         (outcome_ == EncryptionOutcome::LoginOnly ? ", login only" : "");
}

void Channel::strict_handshake() {
  const bool done = tls_->handshake();
  append(for_client_, tls_->take_output());
  if (!done) return;
  tls_version_ = tls_->version();
  tls_cipher_ = tls_->cipher();
  state_ = State::StrictPrelogin;
  strict_prelogin();
}

void Channel::strict_prelogin() {
  Bytes plain;
  tls_->read_all(plain);
  append(for_client_, tls_->take_output());
  messages_.feed(plain.data(), plain.size());
  const auto message = messages_.next();
  if (!message) return;
  if (message->type != PACKET_PRELOGIN) throw ProtocolError("expected PRELOGIN inside TLS");
  // The connection is encrypted already: the answer never starts a second
  // handshake, it only agrees with the client.
  const std::uint8_t client = prelogin_encryption(message->payload);
  const std::uint8_t answer = client == ENCRYPT_NOT_SUP ? ENCRYPT_NOT_SUP : ENCRYPT_ON;
  const Bytes reply = prelogin_reply(spid_, answer);
  tls_->write(reply.data(), reply.size());
  append(for_client_, tls_->take_output());
  state_ = State::Tls;
  messages_.set_max_message(max_login_);
}

void Channel::from_session(const Bytes& reply) {
  switch (state_) {
    case State::Tls:
      tls_->write(reply.data(), reply.size());
      append(for_client_, tls_->take_output());
      return;
    case State::LoginReply:
      // Login-only encryption: the reply to LOGIN7 and all after it in clear.
      state_ = State::Clear;
      append(for_client_, reply);
      return;
    case State::Clear:
      append(for_client_, reply);
      return;
    default:
      // The session has been given nothing to answer in the other states.
      return;
  }
}

void Channel::refuse(const std::string& text) {
  append(for_client_, login_refused(TDS_7_4, spid_, text));
  state_ = State::Closed;
  closing_ = true;
  failure_ = "refused: the client does not encrypt and encryption is required";
}

void Channel::fail(const std::string& why) {
  // Send what TLS owes the client (an alert says why the handshake failed).
  if (tls_) {
    if (state_ == State::Handshake) {
      send_tls_output_wrapped();
    } else {
      append(for_client_, tls_->take_output());
    }
  }
  state_ = State::Closed;
  closing_ = true;
  failure_ = why;
}

void Channel::send_tls_output_wrapped() {
  const Bytes out = tls_->take_output();
  if (!out.empty()) {
    append(for_client_, packetize(PACKET_PRELOGIN, out, DEFAULT_PACKET_SIZE, spid_));
  }
}

}  // namespace varrow::host::tds
