// A lean load generator for varrowd: CLIENTS connections, each sending one
// RPC request after another for SECONDS, written as raw TDS with the
// server's own wire layer, so that the client's cost per call stays small
// beside the server's. In TLS it connects as TDS 8.0 does (TLS first, ALPN
// "tds/8.0", then PRELOGIN inside it). Each request is built once per
// connection; a call is one send of it (its input bytes changed in place)
// and the reads of one reply, which is checked for its return status and
// the length of its OUTPUT value.
//
// Prints calls, calls per second, the 50th and 99th percentile latency and
// the generator's own CPU time per call.
// Usage: rpc_load HOST:PORT CLIENTS SECONDS aes|md5 [clear|tls]
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tds/wire/codes.h"
#include "tds/wire/login.h"
#include "tds/wire/packets.h"
#include "tds/wire/reader_writer.h"
#include "tds/wire/type_codec.h"

namespace {

using namespace varrow::host::tds;
using Clock = std::chrono::steady_clock;

constexpr char KEY[] = "000102030405060708090A0B0C0D0E0F";
constexpr std::size_t INPUT_SIZE = 100;
constexpr std::uint32_t PACKET_SIZE = DEFAULT_PACKET_SIZE;
// TDS 7.2 and later: ALL_HEADERS with the transaction descriptor alone.
constexpr std::uint8_t ALL_HEADERS[] = {0x16, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00,
                                        0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x01, 0x00, 0x00, 0x00};

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A connected socket, in clear or inside TLS.
class Connection {
 public:
  Connection(const std::string& host, const std::string& port, SSL_CTX* tls) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
      throw Failure("cannot resolve " + host);
    }
    fd_ = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    const bool connected = fd_ >= 0 && ::connect(fd_, found->ai_addr, found->ai_addrlen) == 0;
    ::freeaddrinfo(found);
    if (!connected) throw Failure("cannot connect to " + host + ":" + port);
    const int yes = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    if (tls == nullptr) return;
    ssl_ = SSL_new(tls);
    SSL_set_fd(ssl_, fd_);
    if (SSL_connect(ssl_) != 1) throw Failure("TLS handshake failed");
  }
  ~Connection() {
    if (ssl_) SSL_free(ssl_);
    if (fd_ >= 0) ::close(fd_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void send(const Bytes& bytes) {
    if (ssl_) {
      if (SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) <= 0) {
        throw Failure("TLS write failed");
      }
      return;
    }
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) throw Failure("send failed");
      sent += static_cast<std::size_t>(n);
    }
  }

  // One whole reply message: its packets' payloads, appended to `payload`
  // (cleared first).
  void receive(Bytes& payload) {
    payload.clear();
    std::size_t at = 0;  // where the packet being read starts in buffer_
    for (;;) {
      while (filled_ - at >= HEADER_SIZE) {
        const std::size_t length = std::size_t{buffer_[at + 2]} << 8 | buffer_[at + 3];
        if (length < HEADER_SIZE) throw Failure("bad packet length");
        if (filled_ - at < length) break;
        payload.insert(payload.end(), buffer_ + at + HEADER_SIZE, buffer_ + at + length);
        const bool last = (buffer_[at + 1] & STATUS_END_OF_MESSAGE) != 0;
        at += length;
        if (last) {
          std::memmove(buffer_, buffer_ + at, filled_ - at);
          filled_ -= at;
          return;
        }
      }
      std::memmove(buffer_, buffer_ + at, filled_ - at);
      filled_ -= at;
      at = 0;
      const std::size_t room = sizeof buffer_ - filled_;
      const long n = ssl_ ? SSL_read(ssl_, buffer_ + filled_, static_cast<int>(room))
                          : ::recv(fd_, buffer_ + filled_, room, 0);
      if (n <= 0) throw Failure("connection closed");
      filled_ += static_cast<std::size_t>(n);
    }
  }

 private:
  int fd_ = -1;
  SSL* ssl_ = nullptr;
  std::uint8_t buffer_[2 * MAX_PACKET_SIZE];
  std::size_t filled_ = 0;
};

Bytes prelogin() {
  // VERSION (6 bytes) and ENCRYPTION (1 byte), the terminator, their values.
  const Bytes options = {
      0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11,           0x00, 0x01,
      0xFF, 0x0F, 0x00, 0x07, 0xD0, 0x00, 0x00, ENCRYPT_NOT_SUP};  // inside TLS already, or in
                                                                   // clear
  return packetize(PACKET_PRELOGIN, options, PACKET_SIZE, 0);
}

// LOGIN7 at TDS 7.4 for user "load" (any login is taken on loopback without
// a password), every other string empty.
Bytes login7() {
  constexpr std::size_t FIXED = 94;  // the fixed part and the offset table
  constexpr char USER[] = "load";
  Writer out;
  out.u32(0);  // total length, filled in below
  out.u32(TDS_7_4);
  out.u32(PACKET_SIZE);
  for (int i = 0; i < 24; ++i)  // client version and ids, option flags, time zone, LCID
    out.u8(0);
  const std::size_t user_at = FIXED;
  const std::size_t end = user_at + 2 * (sizeof USER - 1);
  for (int field = 0; field < 9; ++field) {  // host, user, password, app, ... database
    out.u16(static_cast<std::uint16_t>(field == 1 ? user_at : end));
    out.u16(static_cast<std::uint16_t>(field == 1 ? sizeof USER - 1 : 0));
  }
  for (int i = 0; i < 6; ++i)  // client id
    out.u8(0);
  for (int field = 0; field < 3; ++field) {  // SSPI, attach file, change password
    out.u16(static_cast<std::uint16_t>(end));
    out.u16(0);
  }
  out.u32(0);  // long SSPI
  out.ucs2(USER);
  Bytes& bytes = out.bytes();
  const auto total = static_cast<std::uint32_t>(bytes.size());
  for (int i = 0; i < 4; ++i)
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(total >> (8 * i));
  return packetize(PACKET_LOGIN7, bytes, PACKET_SIZE, 0);
}

TypeInfo varchar(std::uint32_t declared) {
  return TypeInfo{TYPE_BIGVARCHAR,
                  LengthKind::UShort,
                  declared,
                  Bytes(std::begin(DEFAULT_COLLATION), std::end(DEFAULT_COLLATION)),
                  {}};
}

// The RPC request, and where its input value starts in the packet.
struct Request {
  Bytes packet;
  std::size_t input_at = 0;
};

Request rpc_request(bool aes) {
  Writer out;
  for (const std::uint8_t b : ALL_HEADERS)
    out.u8(b);
  const std::string_view name = aes ? "xp_AES_Encrypt" : "xp_MD5_Encrypt";
  out.u16(static_cast<std::uint16_t>(name.size()));
  out.ucs2(name);
  out.u16(0);  // option flags
  auto param = [&](std::string_view param_name, std::uint8_t status, const TypeInfo& type,
                   const std::optional<Bytes>& value) {
    out.b_varchar(param_name);
    out.u8(status);
    write_type_info(out, type);
    write_value(out, type, value);
  };
  const std::size_t input_at = out.size() + 1 + 1 + 8 + 2;  // name, status, TYPE_INFO, length
  param("", 0, varchar(8000), Bytes(INPUT_SIZE, 'a'));
  if (aes) param("", 0, varchar(8000), Bytes(KEY, KEY + sizeof KEY - 1));
  param("@out", PARAM_BY_REF, varchar(8000), std::nullopt);
  if (out.size() + HEADER_SIZE > PACKET_SIZE) throw std::logic_error("request past one packet");
  return {packetize(PACKET_RPC, out.bytes(), PACKET_SIZE, 0), HEADER_SIZE + input_at};
}

// Checks the reply to one call: return status 0, the OUTPUT value as long
// as the procedure makes it, DONEPROC without DONE_ERROR.
bool reply_ok(const Bytes& payload, std::size_t expected_output) {
  Reader in(payload);
  bool status_ok = false;
  bool output_ok = false;
  while (!in.done()) {
    switch (in.u8()) {
      case TOKEN_RETURNSTATUS:
        status_ok = in.u32() == 0;
        break;
      case TOKEN_RETURNVALUE: {
        in.skip(2);            // ordinal
        in.skip(2 * in.u8());  // name
        in.skip(1 + 4 + 2);    // status, user type, flags
        const TypeInfo type = read_type_info(in);
        const std::optional<Bytes> value = read_value(in, type);
        output_ok = value && value->size() == expected_output;
        break;
      }
      case TOKEN_INFO:
      case TOKEN_ERROR:
        in.skip(in.u16());
        break;
      case TOKEN_DONE:
      case TOKEN_DONEPROC:
      case TOKEN_DONEINPROC: {
        const std::uint16_t status = in.u16();
        in.skip(2 + 8);
        if (status & DONE_ERROR) return false;
        break;
      }
      default:
        return false;
    }
  }
  return status_ok && output_ok;
}

struct Results {
  std::mutex mutex;
  std::vector<float> latencies_us;
  std::atomic<long> failures{0};
};

void client(const std::string& host, const std::string& port, SSL_CTX* tls, bool aes,
            Clock::time_point deadline, Results& results) {
  std::vector<float> latencies;
  latencies.reserve(1 << 16);
  try {
    Connection connection(host, port, tls);
    Bytes reply;
    connection.send(prelogin());
    connection.receive(reply);
    connection.send(login7());
    connection.receive(reply);
    Request request = rpc_request(aes);
    const std::size_t expected = aes ? 112 : 16;
    for (std::uint64_t call = 0; Clock::now() < deadline; ++call) {
      for (std::size_t i = 0; i < 8; ++i)  // a different input for every call
        request.packet[request.input_at + i] =
            static_cast<std::uint8_t>('a' + (call >> (3 * i)) % 8);
      const auto start = Clock::now();
      connection.send(request.packet);
      connection.receive(reply);
      latencies.push_back(std::chrono::duration<float, std::micro>(Clock::now() - start).count());
      if (!reply_ok(reply, expected)) ++results.failures;
    }
  } catch (const std::exception& e) {
    if (results.failures++ == 0) std::fprintf(stderr, "rpc_load: %s\n", e.what());
  }
  std::lock_guard<std::mutex> lock(results.mutex);
  results.latencies_us.insert(results.latencies_us.end(), latencies.begin(), latencies.end());
}

double cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: rpc_load HOST:PORT CLIENTS SECONDS aes|md5 [clear|tls]\n");
    return 2;
  }
  const std::string address = argv[1];
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos) {
    std::fprintf(stderr, "rpc_load: HOST:PORT expected\n");
    return 2;
  }
  const std::string host = address.substr(0, colon);
  const std::string port = address.substr(colon + 1);
  const int clients = std::atoi(argv[2]);
  const double seconds = std::atof(argv[3]);
  const bool aes = std::strcmp(argv[4], "aes") == 0;
  const bool use_tls = argc > 5 && std::strcmp(argv[5], "tls") == 0;

  SSL_CTX* tls = nullptr;
  if (use_tls) {
    // TDS 8.0: the server's certificate is not checked here, the benchmark
    // makes its own on loopback.
    tls = SSL_CTX_new(TLS_client_method());
    static const unsigned char alpn[] = {7, 't', 'd', 's', '/', '8', '.', '0'};
    SSL_CTX_set_alpn_protos(tls, alpn, sizeof alpn);
    SSL_CTX_set_verify(tls, SSL_VERIFY_NONE, nullptr);
  }

  Results results;
  const double cpu_before = cpu_seconds();
  const auto start = Clock::now();
  const auto deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back(client, host, port, tls, aes, deadline, std::ref(results));
  }
  for (auto& t : threads)
    t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = cpu_seconds() - cpu_before;
  if (tls) SSL_CTX_free(tls);

  auto& l = results.latencies_us;
  std::sort(l.begin(), l.end());
  auto percentile = [&](double p) {
    return l.empty() ? 0.0
                     : l[std::min(l.size() - 1,
                                  static_cast<std::size_t>(p * static_cast<double>(l.size())))];
  };
  std::printf(
      "calls=%zu seconds=%.2f calls_per_second=%.0f p50_us=%.1f p99_us=%.1f "
      "client_cpu_us_per_call=%.2f failures=%ld\n",
      l.size(), elapsed, static_cast<double>(l.size()) / elapsed, percentile(0.50),
      percentile(0.99), l.empty() ? 0.0 : cpu * 1e6 / static_cast<double>(l.size()),
      results.failures.load());
  return results.failures.load() == 0 ? 0 : 1;
}
