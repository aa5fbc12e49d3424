// Fuzz target: the password file scanner, then a look-up in what it found.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "driver/password_store.h"
#include "fuzz_support.h"

using namespace tracemill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence_log();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    PasswordStore store;
    scan_password_text(text, store);
    // Every entry the scanner reports must lie inside the text and move forward.
    size_t from = 0;
    while (auto entry = find_password_entry(text, from)) {
        const auto inside = [&](std::string_view part) {
            return part.empty() || (part.data() >= text.data() && part.data() + part.size() <= text.data() + size);
        };
        if (!inside(entry->key) || !inside(entry->password) || entry->end <= from || entry->end > size) __builtin_trap();
        from = entry->end;
    }
    (void)find_password(store, 0x1A2B3C4D);
    return 0;
}
