// The eight Open Data Services functions through which a procedure reaches its
// caller. The library declares them and never defines them: on Windows they
// are imported from opends60.dll (by ordinal into the 32-bit DLL, by name into
// the 64-bit one), elsewhere the process that loads the library supplies them.
#pragma once

#include <cstdint>

extern "C" {

// The host's handle of one client call; opaque to the library.
typedef struct srv_proc SRV_PROC;

// Number of parameters of the call.
int srv_rpcparams(SRV_PROC* srvproc);

// Describes parameter n (numbered from 1). With a null `data` only the four
// out-arguments are filled; with a buffer, exactly `actual_length` bytes of the
// value are copied into it as well. Non-zero means success.
int srv_paraminfo(SRV_PROC* srvproc, int n, std::uint8_t* type, std::uint32_t* max_length,
                  std::uint32_t* actual_length, std::uint8_t* data, std::int32_t* is_null);

// Bit 0 is set when parameter n was passed as OUTPUT.
int srv_paramstatus(SRV_PROC* srvproc, int n);

// Type code of parameter n, as srv_paraminfo reports it.
int srv_paramtype(SRV_PROC* srvproc, int n);

// Sets the value of OUTPUT parameter n. Only a result of exactly 1 is success;
// `data` must stay valid until the following srv_senddone.
int srv_paramsetoutput(SRV_PROC* srvproc, int n, std::uint8_t* data, std::uint32_t length,
                       std::int32_t is_null);

// Ends the reply.
int srv_senddone(SRV_PROC* srvproc, std::uint16_t status, std::uint16_t info,
                 std::int32_t row_count);

// Sends one message to the client.
int srv_sendmsg(SRV_PROC* srvproc, int msg_type, std::int32_t number, std::uint8_t msg_class,
                std::uint8_t state, const char* proc_name, int proc_name_length, std::uint16_t line,
                const char* text, int text_length);

// Sets the call's return status.
int srv_sendstatus(SRV_PROC* srvproc, std::int32_t status);

}  // extern "C"

namespace varrow {

// srv_senddone status values.
inline constexpr std::uint16_t SRV_DONE_MORE = 0x1;
inline constexpr std::uint16_t SRV_DONE_ERROR = 0x2;

// srv_sendmsg message type of an error.
inline constexpr int SRV_MSG_ERROR = 2;

// Bit of srv_paramstatus that marks an OUTPUT parameter.
inline constexpr int SRV_PARAMRETURN = 0x1;

// The one-byte type codes that count as character data.
inline constexpr std::uint8_t TYPE_VARCHAR = 0x27;
inline constexpr std::uint8_t TYPE_CHAR = 0x2F;
inline constexpr std::uint8_t TYPE_BIGVARCHAR = 0xA7;
inline constexpr std::uint8_t TYPE_BIGCHAR = 0xAF;
inline constexpr std::uint8_t TYPE_NVARCHAR = 0xE7;
inline constexpr std::uint8_t TYPE_NCHAR = 0xEF;

constexpr bool is_character_type(std::uint8_t type) {
  return type == TYPE_VARCHAR || type == TYPE_CHAR || type == TYPE_BIGVARCHAR ||
         type == TYPE_BIGCHAR || type == TYPE_NVARCHAR || type == TYPE_NCHAR;
}

}  // namespace varrow
