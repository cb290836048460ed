#include "tds/wire/rpc.h"

#include <iterator>

#include "tds/wire/login.h"
#include "text/codepage.h"

namespace varrow::host::tds {

RpcReader::RpcReader(Reader& in, std::uint32_t version)
    : in_(in), separator_(from_7_2(version) ? RPC_SEPARATOR : RPC_SEPARATOR_7_1) {}

RpcRequest RpcReader::next() {
  if (read_ > 0) in_.u8();  // the separator
  if (++read_ > MAX_RPC_REQUESTS) {
    throw RequestOverLimit(RequestOverLimit::Limit::Requests);
  }
  RpcRequest request;
  const std::uint16_t name_length = in_.u16();
  if (name_length == RPC_PROC_ID) {
    request.proc_id = in_.u16();
  } else {
    request.procedure = std::string(utf16le_to_utf8(in_.ucs2(name_length)));
  }
  in_.u16();  // option flags
  // Room for the parameters of the library's procedures (at most three),
  // so that reading them does not grow the vector twice.
  request.params.reserve(4);
  while (!in_.done() && in_.peek() != separator_) {
    if (request.params.size() == MAX_RPC_PARAMS) {
      throw RequestOverLimit(RequestOverLimit::Limit::Parameters);
    }
    RpcParam param;
    param.name = in_.ucs2(in_.u8());
    param.status = in_.u8();
    param.type = read_type_info(in_);
    param.value = read_value(in_, param.type);
    request.params.push_back(std::move(param));
  }
  return request;
}

std::vector<RpcRequest> parse_rpc(Reader& in, std::uint32_t version) {
  RpcReader reader(in, version);
  std::vector<RpcRequest> requests;
  do {
    requests.push_back(reader.next());
  } while (!reader.done());
  return requests;
}

std::string system_procedure_name(std::uint16_t id) {
  // As the server names them in its messages, by ProcID.
  static const char* const names[] = {"sp_cursor",        "sp_cursoropen",     "sp_cursorprepare",
                                      "sp_cursorexecute", "sp_cursorprepexec", "sp_cursorunprepare",
                                      "sp_cursorfetch",   "sp_cursoroption",   "sp_cursorclose",
                                      "sp_executesql",    "sp_prepare",        "sp_execute",
                                      "sp_prepexec",      "sp_prepexecrpc",    "sp_unprepare"};
  if (id >= 1 && id <= std::size(names)) return names[id - 1];
  return "system procedure " + std::to_string(id);
}

}  // namespace varrow::host::tds
