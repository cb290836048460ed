// A bounded load generator for varrowd: CLIENTS connections through FreeTDS's
// db-lib, each calling one procedure back to back for SECONDS, every result
// checked. Prints calls per second and the 50th and 99th percentile latency.
// Usage: tds_load HOST:PORT CLIENTS SECONDS aes|md5 [MAX_CALLS]
#include <sybdb.h>
#include <sybfront.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char KEY[] = "000102030405060708090A0B0C0D0E0F";
constexpr int INPUT_SIZE = 100;
// db-lib keeps VARCHAR OUTPUT parameters declared over 4000 bytes as VARCHAR.
constexpr int DECLARED = 8000;

int ignore_message(DBPROCESS*, DBINT number, int, int, char* text, char*, char*, int) {
  if (std::getenv("TDS_LOAD_DEBUG")) std::fprintf(stderr, "message %d: %s\n", number, text);
  return 0;
}
int ignore_error(DBPROCESS*, int, int, int, char*, char*) {
  return INT_CANCEL;
}

struct Results {
  std::mutex mutex;
  std::vector<double> latencies_us;
  std::atomic<long> failures{0};
};

void client(const std::string& server, bool aes, Clock::time_point deadline, long max_calls,
            Results& results) {
  LOGINREC* login = dblogin();
  DBSETLUSER(login, "load");
  DBSETLPWD(login, "load");
  DBSETLVERSION(login, DBVERSION_74);
  DBPROCESS* db = dbopen(login, server.c_str());
  if (db == nullptr) {
    ++results.failures;
    return;
  }
  BYTE input[INPUT_SIZE];
  std::vector<double> latencies;
  for (long call = 0; call < max_calls && Clock::now() < deadline; ++call) {
    for (int i = 0; i < INPUT_SIZE; ++i)
      input[i] = static_cast<BYTE>('a' + (call + i) % 26);
    const auto start = Clock::now();
    dbrpcinit(db, const_cast<char*>(aes ? "xp_AES_Encrypt" : "xp_MD5_Encrypt"), 0);
    dbrpcparam(db, nullptr, 0, SYBCHAR, -1, INPUT_SIZE, input);
    if (aes) {
      dbrpcparam(db, nullptr, 0, SYBCHAR, -1, 32, reinterpret_cast<BYTE*>(const_cast<char*>(KEY)));
    }
    dbrpcparam(db, const_cast<char*>("@out"), DBRPCRETURN, SYBVARCHAR, DECLARED, 0, nullptr);
    bool ok = dbrpcsend(db) == SUCCEED && dbsqlok(db) == SUCCEED;
    for (RETCODE rc; ok && (rc = dbresults(db)) != NO_MORE_RESULTS;) {
      if (rc == FAIL) ok = false;
      while (ok && dbnextrow(db) != NO_MORE_ROWS) {
      }
    }
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    const int expected = aes ? 112 : 16;
    if (!ok || dbretstatus(db) != 0 || dbnumrets(db) != 1 || dbretlen(db, 1) != expected) {
      if (results.failures++ == 0 && std::getenv("TDS_LOAD_DEBUG")) {
        std::fprintf(stderr, "first failure: ok=%d status=%d rets=%d length=%d\n", ok,
                     dbretstatus(db), dbnumrets(db), dbnumrets(db) ? dbretlen(db, 1) : -1);
      }
    }
  }
  dbclose(db);
  dbloginfree(login);
  std::lock_guard<std::mutex> lock(results.mutex);
  results.latencies_us.insert(results.latencies_us.end(), latencies.begin(), latencies.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: tds_load HOST:PORT CLIENTS SECONDS aes|md5 [MAX_CALLS]\n");
    return 2;
  }
  const std::string server = argv[1];
  const int clients = std::atoi(argv[2]);
  const double seconds = std::atof(argv[3]);
  const bool aes = std::strcmp(argv[4], "aes") == 0;
  const long max_calls = argc > 5 ? std::atol(argv[5]) : 10'000'000;
  dbinit();
  dbmsghandle(ignore_message);
  dberrhandle(ignore_error);

  Results results;
  const auto start = Clock::now();
  const auto deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back(client, server, aes, deadline, max_calls, std::ref(results));
  }
  for (auto& t : threads)
    t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  auto& l = results.latencies_us;
  std::sort(l.begin(), l.end());
  auto percentile = [&](double p) {
    return l.empty() ? 0.0 : l[std::min(l.size() - 1, static_cast<std::size_t>(p * l.size()))];
  };
  std::printf("calls=%zu seconds=%.2f calls_per_second=%.0f p50_us=%.0f p99_us=%.0f failures=%ld\n",
              l.size(), elapsed, static_cast<double>(l.size()) / elapsed, percentile(0.50),
              percentile(0.99), results.failures.load());
  dbexit();
  return results.failures.load() == 0 ? 0 : 1;
}
