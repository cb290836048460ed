// The codes of the TDS protocol the host reads and writes: data types, reply
// tokens and their status bits, one name per code with its value beside it.
// Packet types and header bits are in packets.h, versions in login.h.
#pragma once

#include <cstdint>

namespace varrow::host::tds {

// Data types (TYPE_INFO's first byte), by their TDS names.
// Fixed length: the type gives the length, no NULL form (but TYPE_NULL).
inline constexpr std::uint8_t TYPE_NULL = 0x1F;       // NULLTYPE
inline constexpr std::uint8_t TYPE_INT1 = 0x30;       // INT1TYPE (TINYINT)
inline constexpr std::uint8_t TYPE_BIT = 0x32;        // BITTYPE
inline constexpr std::uint8_t TYPE_INT2 = 0x34;       // INT2TYPE (SMALLINT)
inline constexpr std::uint8_t TYPE_INT4 = 0x38;       // INT4TYPE (INT)
inline constexpr std::uint8_t TYPE_DATETIME4 = 0x3A;  // DATETIM4TYPE (SMALLDATETIME)
inline constexpr std::uint8_t TYPE_FLT4 = 0x3B;       // FLT4TYPE (REAL)
inline constexpr std::uint8_t TYPE_MONEY = 0x3C;      // MONEYTYPE
inline constexpr std::uint8_t TYPE_DATETIME = 0x3D;   // DATETIMETYPE
inline constexpr std::uint8_t TYPE_FLT8 = 0x3E;       // FLT8TYPE (FLOAT)
inline constexpr std::uint8_t TYPE_MONEY4 = 0x7A;     // MONEY4TYPE (SMALLMONEY)
inline constexpr std::uint8_t TYPE_INT8 = 0x7F;       // INT8TYPE (BIGINT)
// One-byte length.
inline constexpr std::uint8_t TYPE_GUID = 0x24;             // GUIDTYPE
inline constexpr std::uint8_t TYPE_INTN = 0x26;             // INTNTYPE
inline constexpr std::uint8_t TYPE_DATEN = 0x28;            // DATENTYPE
inline constexpr std::uint8_t TYPE_TIMEN = 0x29;            // TIMENTYPE
inline constexpr std::uint8_t TYPE_DATETIME2N = 0x2A;       // DATETIME2NTYPE
inline constexpr std::uint8_t TYPE_DATETIMEOFFSETN = 0x2B;  // DATETIMEOFFSETNTYPE
inline constexpr std::uint8_t TYPE_BITN = 0x68;             // BITNTYPE
inline constexpr std::uint8_t TYPE_DECIMALN = 0x6A;         // DECIMALNTYPE
inline constexpr std::uint8_t TYPE_NUMERICN = 0x6C;         // NUMERICNTYPE
inline constexpr std::uint8_t TYPE_FLTN = 0x6D;             // FLTNTYPE
inline constexpr std::uint8_t TYPE_MONEYN = 0x6E;           // MONEYNTYPE
inline constexpr std::uint8_t TYPE_DATETIMN = 0x6F;         // DATETIMNTYPE
// The legacy (before SQL Server 7) character and binary types: one-byte
// length, 0xFF for NULL.
inline constexpr std::uint8_t TYPE_VARBINARY = 0x25;  // VARBINARYTYPE
inline constexpr std::uint8_t TYPE_VARCHAR = 0x27;    // VARCHARTYPE
inline constexpr std::uint8_t TYPE_BINARY = 0x2D;     // BINARYTYPE
inline constexpr std::uint8_t TYPE_CHAR = 0x2F;       // CHARTYPE
// Two-byte length; a length of 0xFFFF declares a MAX type.
inline constexpr std::uint8_t TYPE_BIGVARBINARY = 0xA5;  // BIGVARBINARYTYPE (VARBINARY(n))
inline constexpr std::uint8_t TYPE_BIGVARCHAR = 0xA7;    // BIGVARCHARTYPE (VARCHAR(n))
inline constexpr std::uint8_t TYPE_BIGBINARY = 0xAD;     // BIGBINARYTYPE (BINARY(n))
inline constexpr std::uint8_t TYPE_BIGCHAR = 0xAF;       // BIGCHARTYPE (CHAR(n))
inline constexpr std::uint8_t TYPE_NVARCHAR = 0xE7;      // NVARCHARTYPE
inline constexpr std::uint8_t TYPE_NCHAR = 0xEF;         // NCHARTYPE
// Four-byte length.
inline constexpr std::uint8_t TYPE_IMAGE = 0x22;  // IMAGETYPE
inline constexpr std::uint8_t TYPE_TEXT = 0x23;   // TEXTTYPE
inline constexpr std::uint8_t TYPE_NTEXT = 0x63;  // NTEXTTYPE
// Not served (named for the messages that refuse them).
inline constexpr std::uint8_t TYPE_SSVARIANT = 0x62;  // SSVARIANTTYPE (sql_variant)
inline constexpr std::uint8_t TYPE_UDT = 0xF0;        // UDTTYPE
inline constexpr std::uint8_t TYPE_XML = 0xF1;        // XMLTYPE

// The longest value a character or binary type that is not MAX may hold, in
// bytes: VARCHAR(8000), VARBINARY(8000), NVARCHAR(4000).
inline constexpr std::uint32_t NON_MAX_BYTE_LIMIT = 8000;

// A two-byte length of this value declares a MAX type (sent as PLP).
inline constexpr std::uint16_t MAX_TYPE_LENGTH = 0xFFFF;

// PLP (partially length-prefixed) total lengths with a meaning of their own.
inline constexpr std::uint64_t PLP_NULL = 0xFFFFFFFFFFFFFFFFull;
inline constexpr std::uint64_t PLP_UNKNOWN_LENGTH = 0xFFFFFFFFFFFFFFFEull;

// Reply tokens.
inline constexpr std::uint8_t TOKEN_RETURNSTATUS = 0x79;
inline constexpr std::uint8_t TOKEN_COLMETADATA = 0x81;
inline constexpr std::uint8_t TOKEN_ERROR = 0xAA;
inline constexpr std::uint8_t TOKEN_INFO = 0xAB;
inline constexpr std::uint8_t TOKEN_RETURNVALUE = 0xAC;
inline constexpr std::uint8_t TOKEN_LOGINACK = 0xAD;
inline constexpr std::uint8_t TOKEN_ROW = 0xD1;
inline constexpr std::uint8_t TOKEN_ENVCHANGE = 0xE3;
inline constexpr std::uint8_t TOKEN_DONE = 0xFD;
inline constexpr std::uint8_t TOKEN_DONEPROC = 0xFE;
inline constexpr std::uint8_t TOKEN_DONEINPROC = 0xFF;

// Messages of this class or lower are informational and travel as INFO;
// higher classes are errors and travel as ERROR.
inline constexpr std::uint8_t MAX_INFO_CLASS = 10;

// DONE, DONEPROC and DONEINPROC status bits.
inline constexpr std::uint16_t DONE_FINAL = 0x00;
inline constexpr std::uint16_t DONE_MORE = 0x01;
inline constexpr std::uint16_t DONE_ERROR = 0x02;
inline constexpr std::uint16_t DONE_COUNT = 0x10;
inline constexpr std::uint16_t DONE_ATTENTION = 0x20;

// ENVCHANGE types.
inline constexpr std::uint8_t ENV_DATABASE = 0x01;
inline constexpr std::uint8_t ENV_LANGUAGE = 0x02;
inline constexpr std::uint8_t ENV_PACKET_SIZE = 0x04;
inline constexpr std::uint8_t ENV_COLLATION = 0x07;

// RPC parameter status bits (and RETURNVALUE's status).
inline constexpr std::uint8_t PARAM_BY_REF = 0x01;  // an OUTPUT parameter

// SQL_Latin1_General_CP1_CI_AS: code page 1252.
inline constexpr std::uint8_t DEFAULT_COLLATION[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

// COLMETADATA column flags.
inline constexpr std::uint16_t COLUMN_NULLABLE = 0x0001;
inline constexpr std::uint16_t COLUMN_HIDDEN = 0x2000;  // fHidden: a server cursor's ROWSTAT

// System procedures an RPC request may call by number (ProcID) instead of by name.
inline constexpr std::uint16_t PROC_CURSOR = 1;           // sp_cursor
inline constexpr std::uint16_t PROC_CURSOROPEN = 2;       // sp_cursoropen
inline constexpr std::uint16_t PROC_CURSORPREPARE = 3;    // sp_cursorprepare
inline constexpr std::uint16_t PROC_CURSOREXECUTE = 4;    // sp_cursorexecute
inline constexpr std::uint16_t PROC_CURSORPREPEXEC = 5;   // sp_cursorprepexec
inline constexpr std::uint16_t PROC_CURSORUNPREPARE = 6;  // sp_cursorunprepare
inline constexpr std::uint16_t PROC_CURSORFETCH = 7;      // sp_cursorfetch
inline constexpr std::uint16_t PROC_CURSOROPTION = 8;     // sp_cursoroption
inline constexpr std::uint16_t PROC_CURSORCLOSE = 9;      // sp_cursorclose
inline constexpr std::uint16_t PROC_EXECUTESQL = 10;      // sp_executesql
inline constexpr std::uint16_t PROC_PREPARE = 11;         // sp_prepare
inline constexpr std::uint16_t PROC_EXECUTE = 12;         // sp_execute
inline constexpr std::uint16_t PROC_PREPEXEC = 13;        // sp_prepexec
inline constexpr std::uint16_t PROC_PREPEXECRPC = 14;     // sp_prepexecrpc
inline constexpr std::uint16_t PROC_UNPREPARE = 15;       // sp_unprepare

// A name length of this value in an RPC request: a ProcID follows instead.
inline constexpr std::uint16_t RPC_PROC_ID = 0xFFFF;

// The byte between two RPC requests of one message (BatchFlag).
inline constexpr std::uint8_t RPC_SEPARATOR = 0xFF;      // from TDS 7.2
inline constexpr std::uint8_t RPC_SEPARATOR_7_1 = 0x80;  // TDS 7.1

}  // namespace varrow::host::tds
