// The tokens of a reply. Fields whose width depends on the version (row
// counts, line numbers, user types) follow the version in effect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sql/runner.h"
#include "tds/login.h"
#include "tds/proto.h"
#include "tds/types.h"
#include "tds/wire.h"

namespace varrow::host::tds {

class TokenWriter {
 public:
  // Room for an ordinary reply up front: most replies are a few hundred bytes.
  explicit TokenWriter(std::uint32_t version) : version_(version) { out_.bytes().reserve(512); }

  Bytes& bytes() { return out_.bytes(); }
  Writer& raw() { return out_; }
  bool wide_counts() const { return from_7_2(version_); }

  void envchange(std::uint8_t type, std::string_view new_value, std::string_view old_value);
  void envchange_collation();
  void loginack(std::uint32_t version);
  // INFO (class 10 or less) or ERROR, text as UTF-16LE.
  void message(std::int32_t number, std::uint8_t state, std::uint8_t msg_class,
               const Bytes& text_utf16, std::string_view procedure, std::uint32_t line);
  void return_status(std::int32_t status);
  // The value of OUTPUT parameter `ordinal` (from 0), named as the client
  // named it (UTF-16LE).
  void return_value(std::uint16_t ordinal, const Bytes& name_utf16, const TypeInfo& type,
                    const std::optional<Bytes>& value);
  void done(std::uint8_t token, std::uint16_t status, std::uint64_t rows = 0);
  void user_type() {
    if (wide_counts()) {
      out_.u32(0);
    } else {
      out_.u16(0);
    }
  }

 private:
  std::uint32_t version_;
  Writer out_;
};

// How a batch's results travel back: rows as COLMETADATA, ROW and DONE;
// messages as INFO or ERROR; each EXEC's status as RETURNSTATUS and DONEPROC.
class TokenOutput : public sql::BatchOutput {
 public:
  explicit TokenOutput(TokenWriter& out) : out_(out) {}

  void result_set(const sql::ResultSet& result) override;
  void message(const sql::ProcedureMessage& m) override;
  void print(const std::string& text) override;
  void error(const sql::StatementError& e) override;
  void procedure_done(const std::string& procedure, std::int32_t status) override;

  bool failed = false;

 private:
  TokenWriter& out_;
};

}  // namespace varrow::host::tds
