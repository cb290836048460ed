#include "tds/rpc.h"

#include "tds/login.h"
#include "text/codepage.h"

namespace varrow::host::tds {

std::vector<RpcRequest> parse_rpc(Reader& in, std::uint32_t version) {
  const std::uint8_t separator = from_7_2(version) ? RPC_SEPARATOR : RPC_SEPARATOR_7_1;
  std::vector<RpcRequest> requests;
  do {
    if (!requests.empty()) in.u8();  // the separator
    RpcRequest request;
    const std::uint16_t name_length = in.u16();
    if (name_length == RPC_PROC_ID) {
      request.proc_id = in.u16();
    } else {
      request.procedure = utf16le_to_utf8(in.ucs2(name_length));
    }
    in.u16();  // option flags
    while (!in.done() && in.peek() != separator) {
      RpcParam param;
      param.name = in.ucs2(in.u8());
      param.status = in.u8();
      param.type = read_type_info(in);
      param.value = read_value(in, param.type);
      request.params.push_back(std::move(param));
    }
    requests.push_back(std::move(request));
  } while (!in.done());
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
