// The core clock, measured in the run itself: hardware counters are not
// available on every machine, but a chain of dependent additions retires one
// addition per cycle on any x86-64 core.
#pragma once

#include <chrono>
#include <cstdint>

namespace varrow::bench {

inline double measure_core_ghz() {
  constexpr std::uint64_t ADDITIONS = 400'000'000;
  double best = 0;
  for (int round = 0; round < 3; ++round) {
    std::uint64_t x = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < ADDITIONS / 8; ++i) {
#if defined(__x86_64__)
      // Eight dependent additions the compiler cannot merge or drop.
      asm volatile(
          "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
          "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0"
          : "+r"(x));
#else
      asm volatile("" : "+r"(x));
      x += 8;
#endif
    }
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    // The loop's own increment and branch run beside the chain: eight cycles
    // per iteration.
    best = std::max(best, static_cast<double>(ADDITIONS) / elapsed.count());
  }
  return best;
}

}  // namespace varrow::bench
