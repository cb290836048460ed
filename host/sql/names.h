// How a written procedure name is read, for calls in a batch and by RPC
// alike: the one rule for its qualifiers and for comparing names.
#pragma once

#include <string>
#include <string_view>

namespace varrow::host::sql {

// Names compare without regard to ASCII letter case, as the server's default
// collation does.
bool same_name(std::string_view a, std::string_view b);

// `text` with its ASCII letters in upper or lower case, as keywords, type
// and function names and variable names are compared and shown.
std::string ascii_upper(std::string_view text);
std::string ascii_lower(std::string_view text);

// The schemas a procedure's name may be qualified with: dbo, for the
// library's procedures; dbo or sys, for the system procedures.
enum class Schemas { Dbo, DboOrSys };

// The last part of `written` when the parts before it are only those a
// procedure of the master database may have, [master.][schema.]name: the
// database, where given, is master, and the schema one of `schemas`; either
// may be left empty ("master..name"), but a name never starts with a dot.
// Empty when the qualifiers name anything else. A view into `written`.
std::string_view unqualified_name(std::string_view written, Schemas schemas);

}  // namespace varrow::host::sql
