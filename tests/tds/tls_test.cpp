// TLS for varrowd without sockets: certificate loading, the PRELOGIN
// encryption answer, and whole connections between an OpenSSL client and a
// Channel, both driven through memory.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/certificates.h"
#include "support/hex.h"
#include "tds/server/channel.h"
#include "tds/server/tls_options.h"
#include "tds/wire/login.h"
#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

using test::KeyPair;
using test::make_certificate;
using test::to_bytes;

// One CA, a server certificate it signed, and a second, unrelated CA.
struct Pki {
  KeyPair ca = make_certificate("Varrow test CA", nullptr, true);
  KeyPair server = make_certificate("localhost", &ca, false);
  KeyPair other_ca = make_certificate("Some other CA", nullptr, true);
  std::shared_ptr<const TlsContext> context = TlsContext::from_pem(server.cert_pem, server.key_pem);
};

const Pki& pki() {
  static const Pki made;
  return made;
}

// The bytes of a literal, NULs included.
template <std::size_t N>
Bytes raw(const char (&text)[N]) {
  return Bytes(text, text + N - 1);
}

// Files of a test in the test folder, removed when it ends.
struct Files {
  std::vector<std::string> paths;
  ~Files() {
    for (const std::string& path : paths)
      std::remove(path.c_str());
  }
  std::string path(const std::string& name) {
    return paths.emplace_back(::testing::TempDir() + "/varrow_tls_" + name);
  }
  std::string write(const std::string& name, const std::string& text, mode_t mode = 0600) {
    const std::string made = path(name);
    std::ofstream(made) << text;
    ::chmod(made.c_str(), mode);
    return made;
  }
};

bool contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// A PRELOGIN payload with VERSION and ENCRYPTION, as clients send it.
Bytes prelogin(std::uint8_t encryption) {
  return Bytes{0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00,
               0x01, 0xFF, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, encryption};
}

Bytes packet(std::uint8_t type, const Bytes& payload) {
  return packetize(type, payload, DEFAULT_PACKET_SIZE, 0);
}

// The ENCRYPTION value of a PRELOGIN reply.
std::uint8_t answer_of(const Bytes& reply) {
  return reply.at(0x20);
}

// The payloads of the packets in `wire`, each checked to be of `type`.
Bytes unwrap(const Bytes& wire, std::uint8_t type) {
  MessageAssembler assembler(1 << 20);
  assembler.feed(wire.data(), wire.size());
  Bytes payload;
  while (auto message = assembler.next()) {
    EXPECT_EQ(message->type, type);
    payload.insert(payload.end(), message->payload.begin(), message->payload.end());
  }
  return payload;
}

// A stand-in LOGIN7 and its reply: the channel does not read them, it only
// carries them.
const Bytes LOGIN = packet(PACKET_LOGIN7, to_bytes("user=sa;password=Secret-Password-42"));
const Bytes LOGIN_REPLY = packet(PACKET_REPLY, to_bytes("login acknowledged"));
const Bytes BATCH = packet(PACKET_SQL_BATCH, to_bytes("EXEC xp_AES_Encrypt 'known plaintext'"));

const std::string TDS8_ALPN = "\x07tds/8.0";

// The client end of TLS, through memory like the server's.
class Client {
 public:
  explicit Client(const KeyPair& ca, const std::string& alpn = "") {
    X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx_), ca.cert.get());
    SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_connect_state(ssl_);
    SSL_set1_host(ssl_, "localhost");
    SSL_set_alpn_protos(ssl_, reinterpret_cast<const unsigned char*>(alpn.data()),
                        static_cast<unsigned>(alpn.size()));  // none when empty
  }
  ~Client() { SSL_free(ssl_), SSL_CTX_free(ctx_); }
  void max_version(int version) { SSL_set_max_proto_version(ssl_, version); }

  // True when done; false while it waits; throws when it fails.
  bool handshake() {
    const int r = SSL_do_handshake(ssl_);
    if (r == 1) return true;
    if (SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ) return false;
    ERR_clear_error();
    throw std::runtime_error("client handshake failed");
  }
  void feed(const Bytes& b) { BIO_write(in_, b.data(), static_cast<int>(b.size())); }
  Bytes output() {
    Bytes b(BIO_ctrl_pending(out_));
    if (!b.empty()) BIO_read(out_, b.data(), static_cast<int>(b.size()));
    return b;
  }
  Bytes close_notify() {
    SSL_shutdown(ssl_);
    return output();
  }
  Bytes seal(const Bytes& plain) {
    SSL_write(ssl_, plain.data(), static_cast<int>(plain.size()));
    return output();
  }
  Bytes open(const Bytes& records) {
    feed(records);
    Bytes plain;
    std::uint8_t buffer[16384];
    for (int n; (n = SSL_read(ssl_, buffer, sizeof buffer)) > 0;)
      plain.insert(plain.end(), buffer, buffer + n);
    return plain;
  }
  std::string version() const { return SSL_get_version(ssl_); }
  std::string alpn() const {
    const unsigned char* data = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(ssl_, &data, &length);
    return std::string(reinterpret_cast<const char*>(data), length);
  }
  int peer_chain_length() const {
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl_);
    return chain ? sk_X509_num(chain) : 0;
  }

 private:
  SSL_CTX* ctx_ = SSL_CTX_new(TLS_client_method());
  SSL* ssl_ = SSL_new(ctx_);
  BIO *in_ = BIO_new(BIO_s_mem()), *out_ = BIO_new(BIO_s_mem());
};

// The channel, a client trusting `ca`, and everything that crossed the wire
// in either direction.
struct Connection {
  explicit Connection(Encryption mode, std::shared_ptr<const TlsContext> tls = pki().context,
                      const KeyPair& ca = pki().ca, const std::string& alpn = "")
      : channel({mode, std::move(tls)}, 51, 1 << 20), client(ca, alpn) {}

  // Bytes from the client, at once or `slowly` byte by byte; returns what
  // the channel answered.
  Bytes send(const Bytes& bytes) {
    wire.insert(wire.end(), bytes.begin(), bytes.end());
    Bytes out;
    for (std::size_t at = 0, step = slowly ? 1 : bytes.size(); at < bytes.size(); at += step) {
      channel.from_client(bytes.data() + at, step);
      const Bytes part = channel.take_for_client();
      out.insert(out.end(), part.begin(), part.end());
    }
    wire.insert(wire.end(), out.begin(), out.end());
    return out;
  }
  Bytes reply(const Bytes& bytes) {
    channel.from_session(bytes);
    const Bytes out = channel.take_for_client();
    wire.insert(wire.end(), out.begin(), out.end());
    return out;
  }
  // PRELOGIN, then the handshake inside PRELOGIN packets; returns the
  // server's ENCRYPTION answer.
  std::uint8_t negotiate(std::uint8_t encryption) {
    const Bytes answer = unwrap(send(packet(PACKET_PRELOGIN, prelogin(encryption))), PACKET_REPLY);
    for (int round = 0; round < 10; ++round) {
      const bool done = client.handshake();
      const Bytes out = client.output();
      const Bytes back = out.empty() ? Bytes{} : send(packet(PACKET_PRELOGIN, out));
      if (done) break;
      client.feed(unwrap(back, PACKET_PRELOGIN));
    }
    return answer_of(answer);
  }
  // What the session gets of `message` sealed by the client.
  Bytes sealed(const Bytes& message) {
    send(client.seal(message));
    return for_session();
  }
  // The whole messages the session gets, as single packets.
  Bytes for_session() {
    Bytes out;
    while (const auto m = channel.next_message()) {
      const Bytes p = packet(m->type, m->payload);
      out.insert(out.end(), p.begin(), p.end());
    }
    return out;
  }

  Channel channel;
  Client client;
  Bytes wire;
  bool slowly = false;
};

TEST(TlsContext, RefusesUnusableFilesNamingThem) {
  const Pki& p = pki();
  const KeyPair expired = make_certificate("localhost", &p.ca, false, -7200, -3600);
  const KeyPair early = make_certificate("localhost", &p.ca, false, 3600, 7200);
  const KeyPair old = make_certificate("Old intermediate", &p.ca, true, -7200, -3600);
  const KeyPair under_old = make_certificate("localhost", &old, false);
  Files f;
  const std::string cert = f.write("cert.pem", p.server.cert_pem),
                    key = f.write("key.pem", p.server.key_pem),
                    other_key = f.write("other.pem", p.other_ca.key_pem),
                    garbage = f.write("garbage.pem", "not a certificate\n"),
                    expired_cert = f.write("expired.pem", expired.cert_pem),
                    expired_key = f.write("expired_key.pem", expired.key_pem),
                    early_cert = f.write("early.pem", early.cert_pem),
                    early_key = f.write("early_key.pem", early.key_pem),
                    old_chain = f.write("old_chain.pem", under_old.cert_pem + old.cert_pem),
                    under_old_key = f.write("under_old_key.pem", under_old.key_pem),
                    missing = ::testing::TempDir() + "/varrow_tls_missing.pem",
                    both = p.server.cert_pem + p.server.key_pem,
                    open_both = f.write("both.pem", both, 0644),
                    other_group = f.write("other_group.pem", p.server.key_pem, 0640),
                    fifo = f.path("fifo.pem");
  const bool chowned = ::chown(other_group.c_str(), -1, ::getegid() + 4242) == 0;  // as root
  ::mkfifo(fifo.c_str(), 0600);
  struct Case {
    const char* name;
    std::string cert, key, expected;
  };
  const std::vector<Case> cases = {
      {"missing certificate", missing, key, "cannot read the certificate file " + missing},
      {"missing key", cert, missing, "cannot read the private key file " + missing},
      {"no certificate", garbage, key, "no PEM certificate in " + garbage},
      {"no key", cert, garbage, "no unencrypted PEM private key in " + garbage},
      {"key of another certificate", cert, other_key,
       "the private key in " + other_key + " does not match the certificate in " + cert},
      {"expired", expired_cert, expired_key, "in " + expired_cert + " expired on"},
      {"not valid yet", early_cert, early_key, "in " + early_cert + " is not valid before"},
      {"expired intermediate", old_chain, under_old_key,
       "CN=Old intermediate in " + old_chain + " expired on"},
      {"one file open to others", open_both, open_both,
       "private key file " + open_both + " has mode 0644: others may use it"},
      {"key readable by another group", cert, chowned ? other_group : open_both,
       chowned ? "mode 0640: its group may read it" : ""},
      {"a FIFO", cert, fifo, "private key file " + fifo + " is not a regular file"},
  };
  for (const Case& c : cases) {
    try {
      TlsContext::from_files(c.cert, c.key);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const TlsSetupError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  EXPECT_NE(TlsContext::from_files(cert, key)->summary().find("CN=localhost"), std::string::npos);
  const std::string one_file = f.write("one.pem", both, 0640);  // the group of root or our own
  EXPECT_NE(TlsContext::from_files(one_file, one_file), nullptr);
}

TEST(Security, CommandLineSettings) {
  Files f;
  const std::string cert = f.write("security_cert.pem", pki().server.cert_pem),
                    key = f.write("security_key.pem", pki().server.key_pem);
  struct Case {
    TlsOptions options;
    const char* expected;  // the mode, or a part of the refusal
  };
  const std::vector<Case> cases = {
      {{"", "", ""}, "off"},
      {{cert, key, ""}, "required"},
      {{cert, key, "optional"}, "optional"},
      {{cert, key, "off"}, "off"},
      {{f.path("security_missing.pem"), key, "off"}, "cannot read the certificate file"},
      {{cert, "", ""}, "--tls-cert needs --tls-key"},
      {{"", key, ""}, "--tls-key needs --tls-cert"},
      {{"", "", "required"}, "--encryption required needs --tls-cert and --tls-key"},
      {{"", "", "optional"}, "--encryption optional needs --tls-cert"},
      {{cert, key, "maybe"}, "--encryption takes off, optional or required"},
  };
  const char* names[] = {"off", "optional", "required"};
  for (const Case& c : cases) {
    std::string got;
    try {
      got = names[static_cast<int>(encryption_settings(c.options).mode)];
    } catch (const std::exception& e) {
      got = e.what();
    }
    EXPECT_NE(got.find(c.expected), std::string::npos) << c.expected << " / " << got;
  }
}

TEST(Security, NetworkAddressesNeedPasswordTlsAndRequired) {
  const EncryptionSettings none;
  const EncryptionSettings optional{Encryption::Optional, pki().context};
  const EncryptionSettings required{Encryption::Required, pki().context};
  EXPECT_EQ(missing_for_network(true, required), "");
  EXPECT_EQ(missing_for_network(false, required),
            "a password (VARROW_PASSWORD or --password-file)");
  EXPECT_EQ(missing_for_network(true, optional), "--encryption required");
  EXPECT_EQ(missing_for_network(true, none), "--tls-cert and --tls-key, --encryption required");
  EXPECT_NE(encryption_offered(required).find("encryption required"), std::string::npos);
  EXPECT_NE(encryption_offered(none).find("encryption off"), std::string::npos);
}

TEST(Prelogin, EncryptionAnswerFollowsTheServerAndTheClient) {
  using O = EncryptionOutcome;
  struct Case {
    Encryption server;
    std::uint8_t client, answer;
    O outcome;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {Encryption::Off,      ENCRYPT_OFF,     ENCRYPT_NOT_SUP, O::Clear},
      {Encryption::Off,      ENCRYPT_ON,      ENCRYPT_NOT_SUP, O::Clear},
      {Encryption::Off,      ENCRYPT_NOT_SUP, ENCRYPT_NOT_SUP, O::Clear},
      {Encryption::Off,      ENCRYPT_REQ,     ENCRYPT_NOT_SUP, O::Clear},
      {Encryption::Optional, ENCRYPT_OFF,     ENCRYPT_OFF,     O::LoginOnly},
      {Encryption::Optional, ENCRYPT_ON,      ENCRYPT_ON,      O::Full},
      {Encryption::Optional, ENCRYPT_NOT_SUP, ENCRYPT_NOT_SUP, O::Clear},
      {Encryption::Optional, ENCRYPT_REQ,     ENCRYPT_ON,      O::Full},
      {Encryption::Required, ENCRYPT_OFF,     ENCRYPT_REQ,     O::Full},
      {Encryption::Required, ENCRYPT_ON,      ENCRYPT_REQ,     O::Full},
      {Encryption::Required, ENCRYPT_NOT_SUP, ENCRYPT_REQ,     O::Refuse},
      {Encryption::Required, ENCRYPT_REQ,     ENCRYPT_REQ,     O::Full},
  };
  // clang-format on
  for (const Case& c : cases) {
    const Negotiated n = negotiate_encryption(c.server, c.client);
    EXPECT_EQ(n.answer, c.answer) << int(c.server) << "/" << int(c.client);
    EXPECT_EQ(n.outcome, c.outcome) << int(c.server) << "/" << int(c.client);
  }
}

TEST(Prelogin, ReadsTheClientsEncryptionOption) {
  EXPECT_EQ(prelogin_encryption(prelogin(ENCRYPT_ON)), ENCRYPT_ON);
  EXPECT_EQ(prelogin_encryption(prelogin(ENCRYPT_OFF | ENCRYPT_CLIENT_CERT)), ENCRYPT_OFF);
  EXPECT_EQ(prelogin_encryption(Bytes{0xFF}), ENCRYPT_NOT_SUP);
  Bytes outside = prelogin(ENCRYPT_ON);
  outside[8] = 0x20;  // ENCRYPTION's offset past the payload
  const std::vector<Bytes> bad = {outside, prelogin(0x04), Bytes{0x01, 0x00}, Bytes{}};
  for (const Bytes& b : bad)
    EXPECT_THROW(prelogin_encryption(b), ProtocolError);
}

TEST(Channel, FullEncryptionCarriesEverythingInsideTlsDeliveredAtOnceOrByteByByte) {
  for (const auto& [version, slowly] :
       {std::pair{TLS1_2_VERSION, false}, {TLS1_3_VERSION, false}, {TLS1_3_VERSION, true}}) {
    Connection c(Encryption::Required);
    c.slowly = slowly;
    c.client.max_version(version);
    EXPECT_EQ(c.negotiate(ENCRYPT_ON), ENCRYPT_REQ);
    EXPECT_EQ(c.client.version(), "TLSv1.2");  // as SQL Server: TLS 1.3 only with TDS 8.0
    EXPECT_EQ(c.sealed(LOGIN), LOGIN);
    EXPECT_TRUE(c.channel.encrypted());
    EXPECT_EQ(c.client.open(c.reply(LOGIN_REPLY)), LOGIN_REPLY);
    EXPECT_EQ(c.sealed(BATCH), BATCH);
    EXPECT_EQ(c.client.open(c.reply(LOGIN_REPLY)), LOGIN_REPLY);
    EXPECT_FALSE(c.channel.closing()) << c.channel.failure();
    for (const char* secret : {"Secret-Password-42", "known plaintext", "login acknowledged"})
      EXPECT_FALSE(contains(c.wire, to_bytes(secret))) << secret;
    c.send(c.client.close_notify());  // ends the connection now, not at the idle timeout
    EXPECT_TRUE(c.channel.closing());
  }
}

TEST(Channel, LoginOnlyEncryptsTheLoginAndThenGoesClear) {
  Connection c(Encryption::Optional);
  c.client.max_version(TLS1_2_VERSION);
  EXPECT_EQ(c.negotiate(ENCRYPT_OFF), ENCRYPT_OFF);
  EXPECT_EQ(c.sealed(LOGIN), LOGIN);
  EXPECT_EQ(c.reply(LOGIN_REPLY), LOGIN_REPLY);  // in clear
  c.send(BATCH);
  EXPECT_EQ(c.for_session(), BATCH);
  EXPECT_EQ(c.reply(LOGIN_REPLY), LOGIN_REPLY);
  EXPECT_FALSE(contains(c.wire, to_bytes("Secret-Password-42")));
  EXPECT_FALSE(c.channel.encrypted());
}

// A client that cannot encrypt logs in in clear where encryption is optional;
// where it is required, no LOGIN7 read outside TLS ever reaches the session.
TEST(Channel, ClearLoginPassesOnlyWhenEncryptionIsOptional) {
  for (const auto& [mode, prelogin_first] : {std::pair{Encryption::Optional, true},
                                             {Encryption::Required, true},
                                             {Encryption::Required, false}}) {
    const bool refused = mode == Encryption::Required;
    Connection conn(mode);
    if (prelogin_first) {
      const Bytes answer = conn.send(packet(PACKET_PRELOGIN, prelogin(ENCRYPT_NOT_SUP)));
      EXPECT_EQ(answer_of(unwrap(answer, PACKET_REPLY)), refused ? ENCRYPT_REQ : ENCRYPT_NOT_SUP);
    }
    const Bytes refusal = unwrap(conn.send(LOGIN), PACKET_REPLY);
    EXPECT_EQ(conn.for_session(), refused ? Bytes{} : LOGIN) << prelogin_first;
    EXPECT_EQ(conn.channel.closing(), refused) << prelogin_first;
    EXPECT_EQ(contains(refusal, {0x18, 0x48, 0x00, 0x00}), refused);  // 18456
    EXPECT_EQ(contains(refusal, *utf8_to_utf16le("Encryption is required")), refused);
  }
}

TEST(Channel, TdsEightStartsWithTlsAndCarriesPreloginInside) {
  Connection c(Encryption::Required, pki().context, pki().ca, TDS8_ALPN);
  Client& client = c.client;
  for (int round = 0; round < 10 && !client.handshake(); ++round)
    client.feed(c.send(client.output()));
  c.send(client.output());
  EXPECT_EQ(client.alpn(), "tds/8.0");
  EXPECT_EQ(client.version(), "TLSv1.3");
  // tedious says ENCRYPT_NOT_SUP inside TLS: no second handshake follows.
  const Bytes reply =
      client.open(c.send(client.seal(packet(PACKET_PRELOGIN, prelogin(ENCRYPT_NOT_SUP)))));
  EXPECT_EQ(answer_of(unwrap(reply, PACKET_REPLY)), ENCRYPT_NOT_SUP);
  EXPECT_EQ(c.sealed(LOGIN), LOGIN);
  EXPECT_EQ(client.open(c.reply(LOGIN_REPLY)), LOGIN_REPLY);
  EXPECT_FALSE(contains(c.wire, to_bytes("Secret-Password-42")));
}

TEST(Channel, TdsEightRefusesAnAlpnListWithoutItsProtocol) {
  const Bytes alert = raw("\x15\x03\x03\x00\x02\x02\x78");  // fatal no_application_protocol
  for (const std::string& offered : {"\x02h2" + TDS8_ALPN, std::string(), std::string("\x02h2")}) {
    Connection conn(Encryption::Required, pki().context, pki().ca, offered);
    conn.client.handshake();
    EXPECT_EQ(contains(conn.send(conn.client.output()), alert), offered == "\x02h2") << offered;
    EXPECT_EQ(conn.channel.closing(), offered == "\x02h2") << offered;
  }
}

TEST(Channel, WholeChainIsSent) {
  const KeyPair intermediate = make_certificate("Varrow intermediate", &pki().ca, true);
  const KeyPair leaf = make_certificate("localhost", &intermediate, false);
  Connection c(Encryption::Required,
               TlsContext::from_pem(leaf.cert_pem + intermediate.cert_pem, leaf.key_pem));
  c.negotiate(ENCRYPT_ON);
  EXPECT_EQ(c.client.peer_chain_length(), 2);
  EXPECT_EQ(c.sealed(LOGIN), LOGIN);
}

TEST(Channel, PreloginAndLoginPastTheirBoundsCloseTheConnection) {
  struct Case {
    const char* what;
    std::uint8_t type;  // PRELOGIN in clear, or LOGIN7 inside login-only TLS
    std::size_t size;
    bool refused;
    Bytes after = {};  // inside the same TLS records as the LOGIN7
  };
  const Case cases[] = {
      {"PRELOGIN at the bound", PACKET_PRELOGIN, MAX_PRELOGIN_MESSAGE, false},
      {"PRELOGIN past it", PACKET_PRELOGIN, MAX_PRELOGIN_MESSAGE + 1, true},
      {"LOGIN7 at the bound", PACKET_LOGIN7, MAX_LOGIN_MESSAGE, false},
      {"LOGIN7 past it", PACKET_LOGIN7, MAX_LOGIN_MESSAGE + 1, true},
      {"LOGIN7 and a batch inside TLS", PACKET_LOGIN7, 100, true, BATCH},
  };
  for (const Case& c : cases) {
    Connection conn(Encryption::Optional);
    Bytes payload = prelogin(ENCRYPT_NOT_SUP);
    payload.resize(c.size);
    Bytes message = packet(c.type, payload);
    if (c.type == PACKET_LOGIN7) {
      conn.negotiate(ENCRYPT_OFF);
      message.insert(message.end(), c.after.begin(), c.after.end());
      EXPECT_EQ(conn.sealed(message).empty(), c.refused) << c.what;
    } else {
      conn.send(message);
    }
    EXPECT_EQ(conn.channel.closing(), c.refused) << c.what << ": " << conn.channel.failure();
  }
}

TEST(Channel, BrokenHandshakesCloseTheConnection) {
  struct Case {
    const char* name;
    Encryption mode;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {"garbage inside PRELOGIN", Encryption::Required,
       packet(PACKET_PRELOGIN, raw("\x16\x03\x01\x00\x08\x01\x00\x00\x04"
                                   "abcd"))},
      {"not a handshake record", Encryption::Required,
       packet(PACKET_PRELOGIN, to_bytes("GET / HTTP/1.1\r\n\r\n"))},
      {"LOGIN7 where the handshake goes", Encryption::Required, LOGIN},
      {"ClientHello to a server without TLS", Encryption::Off,
       raw("\x16\x03\x01\x00\x05\x01\x00\x00\x01\x00")},
      {"garbage TLS record first", Encryption::Required,
       raw("\x16\x03\x03\x00\x08\x02\x00\x00\x04"
           "abcd")},
  };
  for (const Case& c : cases) {
    Connection conn(c.mode);
    if (c.bytes[0] != 0x16) conn.send(packet(PACKET_PRELOGIN, prelogin(ENCRYPT_ON)));
    conn.send(c.bytes);
    EXPECT_TRUE(conn.channel.closing()) << c.name;
    EXPECT_FALSE(conn.channel.failure().empty()) << c.name;
    EXPECT_TRUE(conn.for_session().empty()) << c.name;
  }
}

TEST(Channel, ClientTrustingAnotherCaEndsTheConnection) {
  Connection c(Encryption::Required, pki().context, pki().other_ca);
  EXPECT_THROW(c.negotiate(ENCRYPT_ON), std::runtime_error);
  c.send(packet(PACKET_PRELOGIN, c.client.output()));  // the client's alert
  EXPECT_TRUE(c.channel.closing());
  EXPECT_TRUE(c.for_session().empty());
}

}  // namespace
}  // namespace varrow::host::tds
