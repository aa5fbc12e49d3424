// Escaping of untrusted text before it reaches a log line, so that no file
// name or file content can drive the user's terminal.
#pragma once

#include <string>
#include <string_view>

namespace tracemill {

// Bytes taken from a file's contents (block identifiers, XML values): control
// characters, DEL and every byte from 0x80 up are shown as "\xNN".
std::string escape_file_text(std::string_view text);

// File names: control characters and DEL are shown as "\xNN"; bytes from 0x80
// up stay, so UTF-8 names read as the user typed them.
std::string escape_file_name(std::string_view name);

// Text that must be valid UTF-8 (JSON strings): every byte that is not part
// of a well-formed UTF-8 sequence is shown as "\xNN"; everything else stays.
std::string escape_invalid_utf8(std::string_view text);

}  // namespace tracemill
