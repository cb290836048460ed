// Calls the procedures of the built library through the host, as a server
// does, and checks whole exchanges.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ods/call.h"
#include "ods/library.h"
#include "support/expected_messages.h"
#include "support/faulty_call.h"
#include "support/hex.h"

namespace varrow::test {

using host::Call;
using host::Param;

// The parameter types the tests pass, by the SQL names callers use.
inline constexpr std::uint8_t VARCHAR = varrow::TYPE_BIGVARCHAR;
inline constexpr std::uint8_t CHAR = varrow::TYPE_BIGCHAR;
inline constexpr std::uint8_t NVARCHAR = varrow::TYPE_NVARCHAR;
inline constexpr std::uint8_t NCHAR = varrow::TYPE_NCHAR;
inline constexpr std::uint8_t LEGACY_VARCHAR = varrow::TYPE_VARCHAR;
inline constexpr std::uint8_t LEGACY_CHAR = varrow::TYPE_CHAR;
inline constexpr std::uint8_t INT4 = host::TYPE_INT4;
inline constexpr std::uint8_t VARBINARY = host::TYPE_BIGVARBINARY;

// The library, loaded once for the whole test program.
const host::Library& library();

struct Outcome {
  int returned;
  FaultyCall call;
};

// Runs the named procedure on a call carrying `params`; `prepare` may inject
// faults before the run.
Outcome run(const std::string& procedure, std::vector<Param> params,
            const std::function<void(FaultyCall&)>& prepare = {});

// Parameter shorthands.
Param input(const Bytes& value, std::uint8_t type = VARCHAR);
Param input_text(std::string_view text, std::uint8_t type = VARCHAR);
Param null_input(std::uint8_t type = VARCHAR);
Param output(std::uint32_t max_length, std::uint8_t type = VARCHAR);
Param not_output(std::uint32_t max_length, std::uint8_t type = VARCHAR);

// The exact texts every caller relies on, by code.
std::string expected_message(int code);

// A failed call (after at most one refused output value): return 0, status 1, the code's whole
// 100-byte record with class 10 and state 0, done 3; the OUTPUT parameter untouched.
void expect_error(const Outcome& outcome, int code);

// A successful call: return 1, output parameter `n` set to `value` (or NULL
// when `value` is nullptr), done 1, nothing else sent.
void expect_output(const Outcome& outcome, int n, const Bytes* value);
inline void expect_output(const Outcome& outcome, int n, const Bytes& value) {
  expect_output(outcome, n, &value);
}
inline void expect_null_output(const Outcome& outcome, int n) {
  expect_output(outcome, n, nullptr);
}

// Number of parameter queries the procedure made.
int parameter_queries(const Call& call);

}  // namespace varrow::test
