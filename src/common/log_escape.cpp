// Escaping of untrusted text for log lines.
#include "common/log_escape.h"

namespace tracemill {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void append_hex_byte(std::string& out, unsigned char c) {
    out += "\\x";
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 0xF]);
}

// Length of the well-formed UTF-8 sequence starting at text[at]; 0 when none
// starts there (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
size_t utf8_sequence_length(std::string_view text, size_t at) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((byte(k) & 0xC0) != 0x80) return 0;
    return length;
}

std::string escape(std::string_view text, bool keep_high_bytes) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        const bool control = c < 0x20 || c == 0x7F;
        if (!control && (c < 0x80 || keep_high_bytes)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        append_hex_byte(out, c);
    }
    return out;
}

}  // namespace

std::string escape_file_text(std::string_view text) { return escape(text, false); }

std::string escape_file_name(std::string_view name) { return escape(name, true); }

std::string escape_invalid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8_sequence_length(text, at);
        if (length == 0) {
            append_hex_byte(out, static_cast<unsigned char>(text[at]));
            ++at;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

}  // namespace tracemill
