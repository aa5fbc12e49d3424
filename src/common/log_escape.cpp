// Escaping of untrusted text for log lines.
#include "common/log_escape.h"

namespace tracemill {
namespace {

std::string escape(std::string_view text, bool keep_high_bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        const bool control = c < 0x20 || c == 0x7F;
        if (!control && (c < 0x80 || keep_high_bytes)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        out += "\\x";
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
    return out;
}

}  // namespace

std::string escape_file_text(std::string_view text) { return escape(text, false); }

std::string escape_file_name(std::string_view name) { return escape(name, true); }

}  // namespace tracemill
