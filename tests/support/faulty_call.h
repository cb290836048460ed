// A call whose host fails on request, for tests and fuzzers that must see how
// a procedure copes with Open Data Services refusing an operation. The host
// shipped in libvarrow_host never fails on purpose; this stands in for it.
#pragma once

#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "ods/call.h"

namespace varrow::test {

// The eight operations, in the order srv_functions.cpp serves them.
enum class Operation {
  RpcParams,
  ParamInfo,
  ParamStatus,
  ParamType,
  ParamSetOutput,
  SendDone,
  SendMsg,
  SendStatus,
};

// Which of the two srv_paraminfo queries of a parameter to fail: the one that
// describes it (no buffer) or the one that copies its value.
enum class InfoQuery { Describe, Copy };

class FaultyCall : public host::Call {
 public:
  using host::Call::Call;

  // Every srv_paraminfo query of that kind on parameter n fails.
  void fail_paraminfo(int n, InfoQuery query) { failing_queries_.insert({n, query}); }
  // Every srv_paramsetoutput is refused, as for a variable that cannot hold it.
  void refuse_output(bool refuse) { refuse_output_ = refuse; }
  // The k-th operation of the call (counting from 1, all eight kinds) fails.
  void fail_operation(int k) { failing_operation_ = k; }

  // Operations the procedure has made so far, and the one that was failed.
  int operations() const { return operations_; }
  std::optional<Operation> failed() const { return failed_; }

  // A failed operation answers what Open Data Services answers when it cannot
  // serve one: -1 for the counts and flags, 0 (FAIL) for the rest. A query
  // is still recorded as asked; a refused value as refused; nothing is
  // recorded for a reply that was not sent.
  int rpcparams() override {
    if (!fails(Operation::RpcParams)) return Call::rpcparams();
    record(host::EventKind::ParamCount);
    return -1;
  }
  int paraminfo(int n, std::uint8_t* type, std::uint32_t* max_length, std::uint32_t* actual_length,
                std::uint8_t* data, std::int32_t* is_null) override {
    const InfoQuery query = data == nullptr ? InfoQuery::Describe : InfoQuery::Copy;
    if (!fails(Operation::ParamInfo) && failing_queries_.count({n, query}) == 0) {
      return Call::paraminfo(n, type, max_length, actual_length, data, is_null);
    }
    record(host::EventKind::ParamQuery, n);
    return 0;
  }
  int paramstatus(int n) override {
    if (!fails(Operation::ParamStatus)) return Call::paramstatus(n);
    record(host::EventKind::ParamQuery, n);
    return -1;
  }
  int paramtype(int n) override {
    if (!fails(Operation::ParamType)) return Call::paramtype(n);
    record(host::EventKind::ParamQuery, n);
    return -1;
  }
  int paramsetoutput(int n, const std::uint8_t* data, std::uint32_t length, bool is_null) override {
    if (!fails(Operation::ParamSetOutput) && !refuse_output_) {
      return Call::paramsetoutput(n, data, length, is_null);
    }
    host::Event event(host::EventKind::OutputRefused, n);
    event.is_null = is_null;
    if (!is_null && data != nullptr) event.bytes.assign(data, data + length);
    record(std::move(event));
    return 0;
  }
  int senddone(std::uint16_t status) override {
    return fails(Operation::SendDone) ? 0 : Call::senddone(status);
  }
  int sendmsg(std::int32_t number, std::uint8_t msg_class, std::uint8_t state, const char* text,
              int length) override {
    return fails(Operation::SendMsg) ? 0 : Call::sendmsg(number, msg_class, state, text, length);
  }
  int sendstatus(std::int32_t status) override {
    return fails(Operation::SendStatus) ? 0 : Call::sendstatus(status);
  }

 private:
  bool fails(Operation operation) {
    if (++operations_ != failing_operation_) return false;
    failed_ = operation;
    return true;
  }

  std::set<std::pair<int, InfoQuery>> failing_queries_;
  bool refuse_output_ = false;
  int failing_operation_ = 0;
  int operations_ = 0;
  std::optional<Operation> failed_;
};

}  // namespace varrow::test
