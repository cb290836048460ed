// The frame every procedure shares: parameter count, reading the input,
// checking the OUTPUT parameter, handing the result over, reporting errors.
#include "procedure_fixture.h"

namespace varrow::test {
namespace {

struct ProcedureShape {
  const char* name;
  int param_count;
  std::uint32_t result_size_of_abc;  // what "abc" needs in the OUTPUT parameter
};

const ProcedureShape PROCEDURES[] = {
    {"xp_hexstr", 2, 6},
    {"xp_MD5_Encrypt", 2, 16},
    {"xp_SHA1_Encrypt", 2, 20},
    {"xp_AES_Encrypt", 3, 16},
};

// The call of `shape` with input `in` and output `out`; the AES key is NULL.
std::vector<Param> call_params(const ProcedureShape& shape, Param in, Param out) {
  if (shape.param_count == 3) return {std::move(in), null_input(), std::move(out)};
  return {std::move(in), std::move(out)};
}

void PrintTo(const ProcedureShape& shape, std::ostream* os) {
  *os << shape.name;
}

class Frame : public ::testing::TestWithParam<ProcedureShape> {};

TEST_P(Frame, WrongParameterCountQueriesNothing) {
  const ProcedureShape& shape = GetParam();
  for (int count : {0, 1, 2, 3, 4, 5}) {
    if (count == shape.param_count) continue;
    std::vector<Param> params(static_cast<std::size_t>(count), input_text("abc"));
    const Outcome outcome = run(shape.name, params);
    expect_error(outcome, 50001);
    EXPECT_EQ(parameter_queries(outcome.call), 0) << count;
  }
}

TEST_P(Frame, NullInputOfAnyTypeGivesNullOutputWithoutTestingIt) {
  const ProcedureShape& shape = GetParam();
  for (std::uint8_t type : {VARCHAR, NVARCHAR, INT4, VARBINARY}) {
    for (Param out : {output(1), output(9000, INT4), output(2, NCHAR)}) {
      expect_null_output(run(shape.name, call_params(shape, null_input(type), out)),
                         shape.param_count);
    }
  }
}

TEST_P(Frame, NullInputWithRefusedWriteReports50011) {
  const ProcedureShape& shape = GetParam();
  expect_error(run(shape.name, call_params(shape, null_input(), not_output(100))), 50011);
}

TEST_P(Frame, InputSizeBounds) {
  const ProcedureShape& shape = GetParam();
  expect_error(run(shape.name, call_params(shape, input(Bytes(8001, 'a')), output(8000))), 50003);
  // Size is tested before type.
  expect_error(run(shape.name, call_params(shape, input(Bytes(8001, 'a'), INT4), output(8000))),
               50003);
  expect_error(run(shape.name, call_params(shape, input(Bytes(4, 1), INT4), output(8000))), 50009);
  expect_error(run(shape.name, call_params(shape, input(Bytes(4, 1), VARBINARY), output(8000))),
               50009);
}

TEST_P(Frame, EveryCharacterTypeIsAcceptedAsInput) {
  const ProcedureShape& shape = GetParam();
  for (std::uint8_t type : {VARCHAR, CHAR, NVARCHAR, NCHAR, LEGACY_VARCHAR, LEGACY_CHAR}) {
    const Outcome outcome = run(
        shape.name, call_params(shape, input_text("abc", type), output(shape.result_size_of_abc)));
    EXPECT_EQ(outcome.returned, 1) << int{type};
  }
}

TEST_P(Frame, UnreadableInputReports50002) {
  const ProcedureShape& shape = GetParam();
  for (InfoQuery query : {InfoQuery::Describe, InfoQuery::Copy}) {
    expect_error(run(shape.name, call_params(shape, input_text("abc"), output(100)),
                     [&](FaultyCall& call) { call.fail_paraminfo(1, query); }),
                 50002);
  }
}

TEST_P(Frame, OutputParameterChecksInOrder) {
  const ProcedureShape& shape = GetParam();
  const std::uint32_t needed = shape.result_size_of_abc;
  struct Case {
    const char* what;
    Param out;
    int code;
  };
  const Case cases[] = {
      {"declared over 8000", output(8001), 50003},
      {"declared over 8000, not character data", output(8001, INT4), 50003},
      {"not character data", output(100, INT4), 50009},
      {"binary", output(100, VARBINARY), 50009},
      {"one byte too small", output(needed - 1), 50007},
      {"too small and not OUTPUT", not_output(needed - 1), 50007},
      {"not passed as OUTPUT", not_output(100), 50008},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expect_error(run(shape.name, call_params(shape, input_text("abc"), c.out)), c.code);
  }
  const Outcome exact = run(shape.name, call_params(shape, input_text("abc"), output(needed)));
  EXPECT_EQ(exact.returned, 1);
}

TEST_P(Frame, UndescribableOutputReports50006) {
  const ProcedureShape& shape = GetParam();
  expect_error(
      run(shape.name, call_params(shape, input_text("abc"), output(100)),
          [&](FaultyCall& call) { call.fail_paraminfo(shape.param_count, InfoQuery::Describe); }),
      50006);
}

TEST_P(Frame, RefusedResultReports50011) {
  const ProcedureShape& shape = GetParam();
  const Outcome outcome = run(shape.name, call_params(shape, input_text("abc"), output(100)),
                              [](FaultyCall& call) { call.refuse_output(true); });
  EXPECT_EQ(outcome.call.replies(), "refused " + std::to_string(shape.param_count) + " (" +
                                        std::to_string(shape.result_size_of_abc) +
                                        " bytes); status 1; message 50011; done 3");
  EXPECT_EQ(outcome.returned, 0);
}

INSTANTIATE_TEST_SUITE_P(AllProcedures, Frame, ::testing::ValuesIn(PROCEDURES),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Library, ExportsTheFiveProcedures) {
  for (std::string_view name : host::PROCEDURE_NAMES) {
    EXPECT_NE(library().find(std::string(name)), nullptr) << name;
  }
  for (const char* internal : {"read_input_param", "report_error", "aes_encrypt_block",
                               "md5_digest", "ERROR_MESSAGES", "xp_hexstr_"}) {
    EXPECT_EQ(library().find(internal), nullptr) << internal;
  }
}

}  // namespace
}  // namespace varrow::test
