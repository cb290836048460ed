#include "tds/rpc.h"

#include "tds/login.h"
#include "text/codepage.h"

namespace varrow::host::tds {

RpcReader::RpcReader(Reader& in, std::uint32_t version)
    : in_(in), separator_(from_7_2(version) ? RPC_SEPARATOR : RPC_SEPARATOR_7_1) {}

RpcRequest RpcReader::next() {
  if (read_ > 0) in_.u8();  // the separator
  if (++read_ > MAX_RPC_REQUESTS) {
    throw RequestOverLimit{TOO_MANY_REQUESTS, "A message may carry at most " +
                                                  std::to_string(MAX_RPC_REQUESTS) +
                                                  " RPC requests; the rest were not run."};
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
      throw RequestOverLimit{TOO_MANY_PARAMETERS, sql::TOO_MANY_PARAMETERS_TEXT};
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

Param procedure_param(const RpcParam& p) {
  Param param;
  param.type = p.type.type == TYPE_TEXT    ? TYPE_BIGVARCHAR
               : p.type.type == TYPE_NTEXT ? TYPE_NVARCHAR
                                           : p.type.type;
  param.max_length = p.type.kind == LengthKind::Plp || p.type.kind == LengthKind::Long
                         ? 0xFFFFFFFFu
                         : p.type.max_length;
  param.value = p.value;
  param.output = p.output();
  return param;
}

std::string system_procedure_name(std::uint16_t id) {
  switch (id) {
    case PROC_EXECUTESQL:
      return "sp_executesql";
    case PROC_PREPARE:
      return "sp_prepare";
    case PROC_EXECUTE:
      return "sp_execute";
    case PROC_PREPEXEC:
      return "sp_prepexec";
    case PROC_UNPREPARE:
      return "sp_unprepare";
    default:
      return "system procedure " + std::to_string(id);
  }
}

}  // namespace varrow::host::tds
