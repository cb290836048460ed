// Shows what a batch produced the way SQL Server's command-line client does.
#pragma once

#include <ostream>
#include <string>

#include "sql/runner.h"

namespace varrow::host {

struct ConsoleStyle {
  std::string separator = " ";  // between columns (-s)
  bool trim = false;            // no padding to the column width (-W)
};

class ConsoleOutput : public sql::BatchOutput {
 public:
  ConsoleOutput(std::ostream& out, ConsoleStyle style) : out_(out), style_(std::move(style)) {}

  void result_set(const sql::ResultSet& result) override;
  void message(const sql::ProcedureMessage& message) override;
  void print(std::string_view text) override;
  void error(const sql::StatementError& error) override;
  void procedure_done(const std::string&, std::int32_t) override {}

 private:
  std::ostream& out_;
  ConsoleStyle style_;
};

}  // namespace varrow::host
