// UTF-8, the text of every path inside tracemill, to and from the UTF-16 of
// the Windows wide-character API. Used by the Windows platform files only.
#pragma once

#include <string>
#include <string_view>

namespace tracemill {

// False, and `wide` empty, when `text` is not valid UTF-8: such a name is
// refused rather than guessed at.
bool wide_from_utf8(std::string_view text, std::wstring& wide);
// False when `wide` holds a lone surrogate, which has no UTF-8 form.
bool utf8_from_wide(std::wstring_view wide, std::string& text);

// A path in the wide API's form: UTF-8 with either separator in, "\" out.
bool windows_path(std::string_view path, std::wstring& wide);

}  // namespace tracemill
