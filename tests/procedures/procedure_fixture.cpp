#include "procedure_fixture.h"

#include <map>

namespace varrow::test {

const host::Library& library() {
  static const host::Library loaded(VARROW_LIBRARY_PATH);
  return loaded;
}

Outcome run(const std::string& procedure, std::vector<Param> params, void (*prepare)(Call&)) {
  const host::Procedure entry = library().find(procedure);
  EXPECT_NE(entry, nullptr) << procedure << " is not exported";
  Outcome outcome{-1, Call(std::move(params))};
  if (prepare != nullptr) prepare(outcome.call);
  if (entry != nullptr) outcome.returned = entry(outcome.call.handle());
  return outcome;
}

Param input(const Bytes& value, std::uint8_t type) {
  return Param{"", type, 8000, value, false};
}
Param input_text(std::string_view text, std::uint8_t type) {
  return input(to_bytes(text), type);
}
Param null_input(std::uint8_t type) {
  return Param{"", type, 8000, std::nullopt, false};
}
Param output(std::uint32_t max_length, std::uint8_t type) {
  return Param{"@out", type, max_length, std::nullopt, true};
}
Param not_output(std::uint32_t max_length, std::uint8_t type) {
  return Param{"@out", type, max_length, std::nullopt, false};
}

std::string expected_message(int code) {
  static const std::map<int, std::string> texts = {
      {50001, "Error: incorrect parameter count"},
      {50002, "Error: invalid input param, cannot read input parameter"},
      {50003, "Error: invalid param size, maximum parameter size is 8000 bytes"},
      {50004, "Error: invalid param size, maximum parameter size is 4000 bytes"},
      {50005,
       "Error: invalid key param, key should be 32/48/64 bytes char that contains hex values"},
      {50006, "Error: invalid output param, cannot handle output parameter"},
      {50007, "Error: invalid output param, output buffer too small"},
      {50008, "Error: invalid output param, OUTPUT parameter is not specified"},
      {50009, "Error: invalid param type, parameter should be CHAR/VARCHAR/NCHAR/NVARCHAR type"},
      {50010, "Error: invalid cipher data, cipher data is corrupted"},
      {50011, "Error: invalid output type or cannot return output string"},
      {50012, "Error: invalid output type, output type should not be NCHAR or NVARCHAR"},
      {50013, "Error: incorrect file name or cannot handle the file"},
      {50014, "Error: invalid filename or file path should be less than 260 bytes"},
      {50015, "Error: invalid input file size, maximum size is 8000 bytes"},
      {50016, "Error: parameter is null"},
  };
  return texts.at(code);
}

void expect_error(const Outcome& outcome, int code) {
  const Call& call = outcome.call;
  EXPECT_EQ(outcome.returned, 0);
  // A value the host refused is the only reply that may come before.
  std::string replies = call.replies();
  if (replies.rfind("refused ", 0) == 0) replies.erase(0, replies.find("; ") + 2);
  EXPECT_EQ(replies, "status 1; message " + std::to_string(code) + "; done 3");
  const auto messages = call.messages();
  ASSERT_EQ(messages.size(), 1u);
  std::string record = expected_message(code);
  record.resize(100, '\0');
  EXPECT_EQ(std::string(messages[0]->bytes.begin(), messages[0]->bytes.end()), record);
  EXPECT_EQ(messages[0]->msg_class, 10);
  EXPECT_EQ(messages[0]->state, 0);
}

void expect_output(const Outcome& outcome, int n, const Bytes* value) {
  const Call& call = outcome.call;
  EXPECT_EQ(outcome.returned, 1);
  const std::string set =
      value ? "output " + std::to_string(n) + " (" + std::to_string(value->size()) + " bytes)"
            : "output " + std::to_string(n) + " NULL";
  EXPECT_EQ(call.replies(), set + "; done 1");
  const auto& param = call.params().at(static_cast<std::size_t>(n) - 1);
  if (value == nullptr) {
    EXPECT_FALSE(param.value.has_value());
  } else {
    ASSERT_TRUE(param.value.has_value());
    EXPECT_EQ(to_hex(*param.value), to_hex(*value));
  }
}

int parameter_queries(const Call& call) {
  int queries = 0;
  for (const auto& event : call.events()) {
    if (event.kind == host::EventKind::ParamQuery) ++queries;
  }
  return queries;
}

}  // namespace varrow::test
