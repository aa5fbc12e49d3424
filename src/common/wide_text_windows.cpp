// UTF-8 and UTF-16 conversions through the system's own converters, strict
// both ways: an invalid sequence fails the conversion instead of becoming a
// replacement character that would name some other file.
#include "common/wide_text_windows.h"

#include <windows.h>

#include <climits>

namespace tracemill {

bool wide_from_utf8(std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    if (text.size() > INT_MAX) return false;
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return false;
    wide.resize(static_cast<size_t>(length));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) != length) {
        wide.clear();
        return false;
    }
    return true;
}

bool utf8_from_wide(std::wstring_view wide, std::string& text) {
    text.clear();
    if (wide.empty()) return true;
    if (wide.size() > INT_MAX) return false;
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    text.resize(static_cast<size_t>(length));
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, text.data(), length, nullptr,
                            nullptr) != length) {
        text.clear();
        return false;
    }
    return true;
}

bool windows_path(std::string_view path, std::wstring& wide) {
    if (!wide_from_utf8(path, wide)) return false;
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return true;
}

}  // namespace tracemill
