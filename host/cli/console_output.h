// Shows what a batch produced the way SQL Server's command-line client does.
#pragma once

#include <ostream>
#include <string>

#include "sql/runner.h"

namespace varrow::host {

struct ConsoleStyle {
  std::string separator = " ";  // between columns (-s)
  bool trim = false;            // no padding to the column width (-W)
  int headers = 0;              // -h: 0 headers once, -1 none, n > 0 again every n rows
};

class ConsoleOutput : public sql::BatchOutput {
 public:
  ConsoleOutput(std::ostream& out, ConsoleStyle style) : out_(out), style_(std::move(style)) {}

  // A console takes everything: each returns true.
  bool result_set(const sql::ResultSet& result) override;
  bool message(const sql::ProcedureMessage& message) override;
  bool print(std::string_view text) override;
  bool error(const sql::StatementError& error) override;
  bool procedure_done(const std::string&, std::int32_t) override { return true; }
  void session_option(const std::string& name, bool on) override {
    if (name == "NOCOUNT") nocount_ = on;
  }

 private:
  std::ostream& out_;
  ConsoleStyle style_;
  bool nocount_ = false;
};

}  // namespace varrow::host
