// The device password store: scanning the password file and finding the
// password of a logger by its device id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "driver/run_options.h"

namespace tracemill {

struct RunContext;

// One `"key" : "password"` pair found in the password file text.
struct PasswordEntry {
    std::string_view key;       // "default" or a run of hex digits, possibly empty
    std::string_view password;  // up to the next quote on the same line
    size_t end;                 // where the next search starts
};

// The leftmost entry starting at or after `from`, or none. `text` is UTF-8;
// white space and digits include their Unicode forms. Linear in the text size.
std::optional<PasswordEntry> find_password_entry(std::string_view text, size_t from);

// Inserts every entry of `text` (up to its first zero byte) into `store`; the
// first password of a key wins and each later duplicate is warned about.
// Returns the number of entries found, duplicates included.
size_t scan_password_text(std::string_view text, PasswordStore& store);

// Loads the -p file, or "passwords.json" in the working folder when -p is absent.
// A missing default file means no passwords. A named file that cannot be opened
// or read, or that is not a regular file (a folder, a FIFO: refused without
// blocking), is logged, adds 1 to the exit status and fails the run; so does a
// default file that exists but is unusable in the same way, since its owner
// evidently meant it to be read. A file that is UTF-16, holds a zero byte or
// yields no passwords although it is not empty is warned about. The file's
// bytes are wiped from memory once scanned.
bool load_password_store(RunContext& context, int& exit_status);

// The password of `device_id` ("%08X"), else the "default" one, else none.
std::optional<std::string_view> find_password(const PasswordStore& store, uint32_t device_id);

}  // namespace tracemill
