// The five procedures as a server calls them: through the host's call object
// and the loaded library, at the input sizes callers use; calls and bytes per
// second.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "ods/call.h"
#include "ods/library.h"

namespace {

using varrow::host::Bytes;
using varrow::host::Call;
using varrow::host::Param;

const varrow::host::Library& library() {
  static const varrow::host::Library loaded(VARROW_LIBRARY_PATH);
  return loaded;
}

Param input(const Bytes& value) {
  return Param{"", 0xA7, 8000, value, false};
}
Param output(std::uint32_t length) {
  return Param{"@out", 0xA7, length, std::nullopt, true};
}

std::vector<Bytes> inputs(std::size_t size, std::size_t count = 16) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::vector<Bytes> out(count, Bytes(size));
  for (auto& b : out) {
    for (auto& x : b)
      x = static_cast<std::uint8_t>(random());
  }
  return out;
}

// Runs `procedure` on calls built by `make` from `values` in turn; `size`
// bytes count for each call.
template <class Make>
void run(benchmark::State& state, const char* procedure, const std::vector<Bytes>& values,
         std::size_t size, Make make) {
  const varrow::host::Procedure entry = library().find(procedure);
  std::size_t next = 0;
  for (auto _ : state) {
    Call call(make(values[next++ % values.size()]));
    if (entry(call.handle()) != 1) state.SkipWithError("the call failed");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

const std::vector<std::string> KEYS = {
    "000102030405060708090a0b0c0d0e0f", "2b7e151628aed2a6abf7158809cf4f3c",
    "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4"};

void BM_Encrypt(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string& key = KEYS[static_cast<std::size_t>(state.range(1))];
  run(state, "xp_AES_Encrypt", inputs(size), size, [&](const Bytes& v) {
    return std::vector<Param>{input(v), input(Bytes(key.begin(), key.end())), output(8000)};
  });
}
BENCHMARK(BM_Encrypt)
    ->Name("xp_AES_Encrypt")
    ->ArgNames({"bytes", "key"})
    ->ArgsProduct({{0, 16, 100, 1000, 4000, 7999}, {0, 2}});

void BM_Decrypt(benchmark::State& state) {
  // Real ciphertexts, so that every call passes the padding check.
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string& key = KEYS[static_cast<std::size_t>(state.range(1))];
  const Bytes key_text(key.begin(), key.end());
  std::vector<Bytes> ciphers;
  for (const Bytes& plain : inputs(size == 0 ? 0 : size - 16)) {
    Call call({input(plain), input(key_text), output(8000)});
    library().find("xp_AES_Encrypt")(call.handle());
    ciphers.push_back(*call.params()[2].value);
  }
  run(state, "xp_AES_Decrypt", ciphers, size, [&](const Bytes& cipher) {
    return std::vector<Param>{input(cipher), input(key_text), output(8000)};
  });
}
BENCHMARK(BM_Decrypt)
    ->Name("xp_AES_Decrypt")
    ->ArgNames({"bytes", "key"})
    ->ArgsProduct({{16, 112, 1008, 4000, 8000}, {0, 2}});

// The procedures of two parameters: input, and an OUTPUT of `output_length`.
void BM_InputOutput(benchmark::State& state, const char* procedure, std::uint32_t output_length) {
  const auto size = static_cast<std::size_t>(state.range(0));
  run(state, procedure, inputs(size), size, [&](const Bytes& v) {
    return std::vector<Param>{input(v), output(output_length)};
  });
}
BENCHMARK_CAPTURE(BM_InputOutput, md5, "xp_MD5_Encrypt", 16)
    ->Name("xp_MD5_Encrypt")
    ->Arg(0)
    ->Arg(16)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(8000);
BENCHMARK_CAPTURE(BM_InputOutput, sha1, "xp_SHA1_Encrypt", 20)
    ->Name("xp_SHA1_Encrypt")
    ->Arg(0)
    ->Arg(16)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(8000);
BENCHMARK_CAPTURE(BM_InputOutput, hexstr, "xp_hexstr", 8000)
    ->Name("xp_hexstr")
    ->Arg(0)
    ->Arg(16)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000);

// A call that does no work: NULL input.
void BM_NullInput(benchmark::State& state) {
  const varrow::host::Procedure entry = library().find("xp_MD5_Encrypt");
  for (auto _ : state) {
    Call call({Param{"", 0xA7, 8000, std::nullopt, false}, output(16)});
    entry(call.handle());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NullInput)->Name("null_input_call");

}  // namespace

BENCHMARK_MAIN();
