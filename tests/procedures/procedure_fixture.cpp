#include "procedure_fixture.h"

namespace varrow::test {

const host::Library& library() {
  static const host::Library loaded(VARROW_LIBRARY_PATH);
  return loaded;
}

Outcome run(const std::string& procedure, std::vector<Param> params,
            const std::function<void(FaultyCall&)>& prepare) {
  const host::Procedure entry = library().find(procedure);
  EXPECT_NE(entry, nullptr) << procedure << " is not exported";
  Outcome outcome{-1, FaultyCall(std::move(params))};
  if (prepare) prepare(outcome.call);
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
  return EXPECTED_MESSAGES.at(code);
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
