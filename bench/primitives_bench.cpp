// The algorithms on their own, beside OpenSSL doing the same work: bytes per
// second and cycles per byte at the clock measured in the same run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <vector>

#include "aes/aes.h"
#include "clock.h"
#include "digest/md5.h"
#include "digest/sha1.h"
#include "key/hex_key.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

double core_ghz() {
  static const double ghz = varrow::bench::measure_core_ghz();
  return ghz;
}

// Inputs and keys change every iteration so that no branch predictor can
// learn a single input.
struct Pool {
  std::vector<Bytes> items;
  std::size_t next = 0;
  Pool(std::size_t count, std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < count; ++i) {
      Bytes b(size);
      for (auto& x : b)
        x = static_cast<std::uint8_t>(random());
      items.push_back(std::move(b));
    }
  }
  const Bytes& take() {
    const Bytes& b = items[next];
    next = (next + 1) % items.size();
    return b;
  }
};

void report(benchmark::State& state, std::size_t bytes_per_iteration) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes_per_iteration));
  // seconds / (iterations * bytes / Hz) = cycles per byte
  state.counters["cycles/byte"] = benchmark::Counter(
      static_cast<double>(bytes_per_iteration) / (core_ghz() * 1e9),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <bool encrypt>
void BM_AesBlock(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  Pool keys(64, 32, 1), blocks(61, 16, 2);
  std::uint8_t out[16];
  for (auto _ : state) {
    const Bytes& key = keys.take();
    const Bytes& block = blocks.take();
    if constexpr (encrypt) {
      varrow::aes_encrypt_block(block.data(), key.data(), bits, out);
    } else {
      varrow::aes_decrypt_block(block.data(), key.data(), bits, out);
    }
    benchmark::DoNotOptimize(out);
  }
  report(state, 16);
}
BENCHMARK_TEMPLATE(BM_AesBlock, true)->Name("aes_encrypt_block")->Arg(128)->Arg(192)->Arg(256);
BENCHMARK_TEMPLATE(BM_AesBlock, false)->Name("aes_decrypt_block")->Arg(128)->Arg(192)->Arg(256);

template <bool (*digest)(const std::uint8_t*, std::uint32_t, std::uint8_t*)>
void BM_Digest(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  Pool messages(16, size, 3);
  std::uint8_t out[20];
  for (auto _ : state) {
    const Bytes& m = messages.take();
    digest(m.data(), static_cast<std::uint32_t>(size), out);
    benchmark::DoNotOptimize(out);
  }
  report(state, std::max<std::size_t>(size, 1));
}
BENCHMARK_TEMPLATE(BM_Digest, varrow::md5_digest)->Name("md5_digest")->Arg(100)->Arg(8000);
BENCHMARK_TEMPLATE(BM_Digest, varrow::sha1_digest)->Name("sha1_digest")->Arg(100)->Arg(8000);

void BM_HexKeyDecode(benchmark::State& state) {
  std::vector<std::string> texts;
  std::mt19937 random(4);
  for (int i = 0; i < 16; ++i) {
    std::string t;
    for (int k = 0; k < 64; ++k)
      t += "0123456789abcdefABCDEF"[random() % 22];
    texts.push_back(t);
  }
  std::size_t next = 0;
  std::uint8_t key[32];
  for (auto _ : state) {
    const std::string& t = texts[next++ % texts.size()];
    varrow::hex_key_decode(reinterpret_cast<const std::uint8_t*>(t.data()), key, 64);
    benchmark::DoNotOptimize(key);
  }
  report(state, 64);
}
BENCHMARK(BM_HexKeyDecode)->Name("hex_key_decode");

// OpenSSL, a fresh key for every call of AES-ECB with PKCS#7 padding, as the
// procedures expand the key for every call.
void BM_OpenSslAesEcb(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const int bits = static_cast<int>(state.range(1));
  const EVP_CIPHER* cipher = bits == 128   ? EVP_aes_128_ecb()
                             : bits == 192 ? EVP_aes_192_ecb()
                                           : EVP_aes_256_ecb();
  const bool encrypt = state.range(2) != 0;
  Pool keys(64, 32, 5), inputs(16, size, 6);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(size + 16);
  for (auto _ : state) {
    int length = 0, final_length = 0;
    EVP_CipherInit_ex(ctx, cipher, nullptr, keys.take().data(), nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, encrypt ? 1 : 0);
    const Bytes& in = inputs.take();
    EVP_CipherUpdate(ctx, out.data(), &length, in.data(), static_cast<int>(size));
    EVP_CipherFinal_ex(ctx, out.data() + length, &final_length);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  report(state, size);
}
BENCHMARK(BM_OpenSslAesEcb)
    ->Name("openssl_aes_ecb")
    ->ArgNames({"bytes", "bits", "encrypt"})
    ->ArgsProduct({{16, 100, 1000, 4000, 8000}, {128, 256}, {0, 1}});

// The library's own AES over 8000 bytes, key expanded for every block.
void BM_AesEcb(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const int bits = static_cast<int>(state.range(1));
  const bool encrypt = state.range(2) != 0;
  Pool keys(64, 32, 5), inputs(16, size, 6);
  Bytes out(size);
  for (auto _ : state) {
    const Bytes& key = keys.take();
    const Bytes& in = inputs.take();
    for (std::size_t i = 0; i < size; i += 16) {
      if (encrypt) {
        varrow::aes_encrypt_block(&in[i], key.data(), bits, &out[i]);
      } else {
        varrow::aes_decrypt_block(&in[i], key.data(), bits, &out[i]);
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
  report(state, size);
}
BENCHMARK(BM_AesEcb)
    ->Name("aes_ecb")
    ->ArgNames({"bytes", "bits", "encrypt"})
    ->Args({8000, 128, 1})
    ->Args({8000, 128, 0})
    ->Args({8000, 192, 1})
    ->Args({8000, 192, 0})
    ->Args({8000, 256, 1})
    ->Args({8000, 256, 0});

void BM_OpenSslDigest(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const EVP_MD* md = state.range(1) == 5 ? EVP_md5() : EVP_sha1();
  Pool messages(16, size, 3);
  unsigned char out[EVP_MAX_MD_SIZE];
  for (auto _ : state) {
    unsigned int length = 0;
    const Bytes& m = messages.take();
    EVP_Digest(m.data(), size, out, &length, md, nullptr);
    benchmark::DoNotOptimize(out);
  }
  report(state, size);
}
BENCHMARK(BM_OpenSslDigest)
    ->Name("openssl_digest")
    ->ArgNames({"bytes", "md"})
    ->ArgsProduct({{16, 100, 1000, 4000, 8000}, {5, 1}});

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::AddCustomContext("core_ghz", std::to_string(core_ghz()));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
