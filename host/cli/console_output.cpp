#include "cli/console_output.h"

#include <algorithm>

namespace varrow::host {
namespace {

// Characters on screen: UTF-8 continuation bytes take no column.
std::size_t width_of(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

bool ConsoleOutput::result_set(const sql::ResultSet& result) {
  const std::size_t count = result.columns.size();
  std::vector<std::string> headers;
  std::vector<std::size_t> widths;
  for (const auto& column : result.columns) {
    headers.push_back(column.name.empty() ? "(No column name)" : column.name);
    widths.push_back(width_of(headers.back()));
  }
  std::vector<std::vector<std::string>> cells;
  for (const auto& row : result.rows) {
    cells.emplace_back();
    for (std::size_t i = 0; i < count; ++i) {
      cells.back().emplace_back(sql::display(row[i]));
      widths[i] = std::max(widths[i], width_of(cells.back().back()));
    }
  }
  auto line = [&](const std::vector<std::string>& values) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
      if (i != 0) text += style_.separator;
      text += values[i];
      if (!style_.trim && i + 1 < count) text.append(widths[i] - width_of(values[i]), ' ');
    }
    out_ << text << '\n';
  };
  std::vector<std::string> rules;
  for (std::size_t i = 0; i < count; ++i) {
    rules.emplace_back(style_.trim ? width_of(headers[i]) : widths[i], '-');
  }
  auto heading = [&] {
    line(headers);
    line(rules);
  };
  if (style_.headers >= 0) heading();
  for (std::size_t r = 0; r < cells.size(); ++r) {
    if (r != 0 && style_.headers > 0 && r % static_cast<std::size_t>(style_.headers) == 0) {
      out_ << '\n';
      heading();
    }
    line(cells[r]);
  }
  if (!nocount_) {
    out_ << "\n(" << result.rows.size() << (result.rows.size() == 1 ? " row" : " rows")
         << " affected)\n";
  }
  return true;
}

bool ConsoleOutput::message(const sql::ProcedureMessage& message) {
  out_ << "Msg " << message.number << ", Level " << int{message.msg_class} << ", State "
       << int{message.state} << ", Procedure " << message.procedure << ", Line " << message.line
       << '\n'
       << message.text << '\n';
  return true;
}

bool ConsoleOutput::print(std::string_view text) {
  out_ << text << '\n';
  return true;
}

bool ConsoleOutput::error(const sql::StatementError& error) {
  out_ << "Msg " << error.number << ", Level " << int{error.error_class} << ", State 1, Line "
       << error.at.line << ", Column " << error.at.column << '\n'
       << error.text << '\n';
  return true;
}

}  // namespace varrow::host
