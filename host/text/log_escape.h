// Client text made safe for the log: whatever a client sends (a user name, a
// message, a path), it stays inside its one line, shows every invisible or
// reordering character as an escape, and cannot grow the line without
// bound. Every piece of client text that enters a log line goes through
// log_escape; call sites never format client text themselves.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varrow::host {

// How many characters of client text a log line shows.
inline constexpr std::size_t LOG_TEXT_CHARACTERS = 128;

// `text` (UTF-8 as the client sent it, or not UTF-8 at all) with these
// shown as escapes, everything else as it is:
//   \n \r \t      those three controls
//   \xNN          the other C0 controls and DEL, and each byte that is not
//                 part of a valid UTF-8 sequence (overlong forms,
//                 surrogates, code points past U+10FFFF, cut sequences)
//   \uNNNN        C1 controls (U+0080-U+009F), the line and paragraph
//                 separators U+2028 and U+2029, and the bidirectional
//                 controls U+061C, U+200E, U+200F, U+202A-U+202E and
//                 U+2066-U+2069
//   \\ \'         a backslash, so that escapes read one way only, and the
//                 quote the log puts around names, so that a field ends
//                 where the log ended it
// Past `characters` characters (an invalid byte counts as one) the rest is
// left out and "...(N bytes)" ends the text, N the length of all of `text`.
// Hex digits are lowercase.
std::string log_escape(std::string_view text, std::size_t characters = LOG_TEXT_CHARACTERS);

}  // namespace varrow::host
