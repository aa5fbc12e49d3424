// Password file scanning with a small hand-written matcher. An entry is
//   space* "(default|[a-fA-F digit]*)" space* : space* "(any but line feed, shortest)" space* ,? space*
// where space and digit take their Unicode meaning. Entries start at a double
// quote, so the search tries each quote in turn; every byte is looked at a
// bounded number of times, whatever the input.
#include "driver/password_store.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "common/local_file.h"
#include "common/log.h"
#include "common/log_escape.h"
#include "driver/paths.h"
#include "driver/run_context.h"

namespace tracemill {

namespace {

struct CodePoint {
    int32_t value;  // -1 for a byte that starts no valid UTF-8 sequence
    size_t length;
};

CodePoint decode_utf8(std::string_view text, size_t pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) return {lead, 1};
    size_t length;
    int32_t value;
    if ((lead & 0xE0) == 0xC0) { length = 2; value = lead & 0x1F; }
    else if ((lead & 0xF0) == 0xE0) { length = 3; value = lead & 0x0F; }
    else if ((lead & 0xF8) == 0xF0) { length = 4; value = lead & 0x07; }
    else return {-1, 1};
    if (pos + length > text.size()) return {-1, 1};
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return {-1, 1};
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    return {value, length};
}

bool is_unicode_space(int32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// First code point of every block of ten Unicode decimal digits (the mathematical
// digits U+1D7CE..U+1D7FF are five such blocks).
constexpr int32_t kDigitZeros[] = {
    0x30,    0x660,   0x6F0,   0x7C0,   0x966,   0x9E6,   0xA66,   0xAE6,   0xB66,   0xBE6,   0xC66,
    0xCE6,   0xD66,   0xDE6,   0xE50,   0xED0,   0xF20,   0x1040,  0x1090,  0x17E0,  0x1810,  0x1946,
    0x19D0,  0x1A80,  0x1A90,  0x1B50,  0x1BB0,  0x1C40,  0x1C50,  0xA620,  0xA8D0,  0xA900,  0xA9D0,
    0xA9F0,  0xAA50,  0xABF0,  0xFF10,  0x104A0, 0x10D30, 0x11066, 0x110F0, 0x11136, 0x111D0, 0x112F0,
    0x11450, 0x114D0, 0x11650, 0x116C0, 0x11730, 0x118E0, 0x11950, 0x11C50, 0x11D50, 0x11DA0, 0x11F50,
    0x16A60, 0x16AC0, 0x16B50, 0x1D7CE, 0x1D7D8, 0x1D7E2, 0x1D7EC, 0x1D7F6, 0x1E140, 0x1E2F0, 0x1E4F0,
    0x1E950, 0x1FBF0,
};

bool is_unicode_digit(int32_t c) {
    for (int32_t zero : kDigitZeros)
        if (c >= zero && c <= zero + 9) return true;
    return false;
}

bool is_key_char(int32_t c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || is_unicode_digit(c);
}

size_t skip_spaces(std::string_view text, size_t pos) {
    while (pos < text.size()) {
        const CodePoint cp = decode_utf8(text, pos);
        if (!is_unicode_space(cp.value)) break;
        pos += cp.length;
    }
    return pos;
}

bool at(std::string_view text, size_t pos, char c) { return pos < text.size() && text[pos] == c; }

// The entry whose key opens with the quote at `quote`, if one does.
std::optional<PasswordEntry> match_entry_at(std::string_view text, size_t quote) {
    size_t pos = quote + 1;
    const size_t key_start = pos;
    if (text.substr(pos, 7) == "default" && at(text, pos + 7, '"')) {
        pos += 7;
    } else {
        while (pos < text.size()) {
            const CodePoint cp = decode_utf8(text, pos);
            if (!is_key_char(cp.value)) break;
            pos += cp.length;
        }
    }
    if (!at(text, pos, '"')) return std::nullopt;
    const std::string_view key = text.substr(key_start, pos - key_start);
    pos = skip_spaces(text, pos + 1);
    if (!at(text, pos, ':')) return std::nullopt;
    pos = skip_spaces(text, pos + 1);
    if (!at(text, pos, '"')) return std::nullopt;
    const size_t password_start = ++pos;
    while (pos < text.size() && text[pos] != '"' && text[pos] != '\n') ++pos;
    if (!at(text, pos, '"')) return std::nullopt;
    const std::string_view password = text.substr(password_start, pos - password_start);
    pos = skip_spaces(text, pos + 1);
    if (at(text, pos, ',')) pos = skip_spaces(text, pos + 1);
    return PasswordEntry{key, password, pos};
}

// The password file's bytes, overwritten before their memory is released.
class WipedBuffer {
public:
    bool allocate(size_t size) {
        bytes_.reset(new (std::nothrow) char[size == 0 ? 1 : size]);
        size_ = bytes_ ? size : 0;
        return bytes_ != nullptr;
    }
    ~WipedBuffer() {
        if (bytes_) secure_wipe(bytes_.get(), size_);
    }
    char* data() { return bytes_.get(); }
    std::string_view text() const { return std::string_view(bytes_.get(), size_); }
    void shorten(size_t size) { size_ = std::min(size_, size); }

private:
    std::unique_ptr<char[]> bytes_;
    size_t size_ = 0;
};

enum class FileRead { Read, Missing, Unusable };

// Reads the whole password file. A FIFO or folder is refused without blocking;
// a file that shrinks while it is read yields no text, as if empty.
FileRead read_password_file(const std::string& path, WipedBuffer& buffer) {
    const int fd = open_local_file_for_reading(path);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? FileRead::Missing : FileRead::Unusable;
    struct stat st;
    FileRead result = FileRead::Read;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !buffer.allocate(static_cast<size_t>(st.st_size))) {
        result = FileRead::Unusable;
    } else {
        const size_t size = static_cast<size_t>(st.st_size);
        size_t filled = 0;
        while (filled < size) {
            const ssize_t n = ::read(fd, buffer.data() + filled, size - filled);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) result = FileRead::Unusable;
            if (n <= 0) break;
            filled += static_cast<size_t>(n);
        }
        if (filled < size) buffer.shorten(0);
    }
    ::close(fd);
    return result;
}

// UTF-16 text: a byte order mark, or a zero byte in every other place.
bool looks_like_utf16(std::string_view text) {
    if (text.size() < 2) return false;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    if ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF)) return true;
    const size_t checked = std::min<size_t>(text.size() & ~size_t{1}, 256);
    bool even_zero = true, odd_zero = true, even_set = false, odd_set = false;
    for (size_t i = 0; i < checked; i += 2) {
        even_zero = even_zero && byte(i) == 0;
        odd_zero = odd_zero && byte(i + 1) == 0;
        even_set = even_set || byte(i) != 0;
        odd_set = odd_set || byte(i + 1) != 0;
    }
    return (even_zero && odd_set) || (odd_zero && even_set);
}

bool only_spaces(std::string_view text) { return skip_spaces(text, 0) == text.size(); }

// Says why a password file that is not empty gave fewer passwords than it seems to hold.
void warn_about_text(const std::string& path, std::string_view text, size_t entries) {
    if (looks_like_utf16(text)) {
        TM_LOG(kWarn, "Password file %s is UTF-16 text; only UTF-8 is read, so it yields no passwords",
               escape_file_name(path).c_str());
        return;
    }
    const size_t zero = text.find('\0');
    if (zero != std::string_view::npos)
        TM_LOG(kWarn, "Password file %s contains a zero byte at offset %llu; the text from there on is ignored",
               escape_file_name(path).c_str(), static_cast<unsigned long long>(zero));
    if (entries == 0 && !only_spaces(text.substr(0, zero)))
        TM_LOG(kWarn, "Password file %s yields no passwords although it is not empty", escape_file_name(path).c_str());
}

}  // namespace

std::optional<PasswordEntry> find_password_entry(std::string_view text, size_t from) {
    for (size_t quote = text.find('"', from); quote != std::string_view::npos; quote = text.find('"', quote + 1)) {
        if (std::optional<PasswordEntry> entry = match_entry_at(text, quote)) return entry;
    }
    return std::nullopt;
}

size_t scan_password_text(std::string_view text, PasswordStore& store) {
    text = text.substr(0, text.find('\0'));
    size_t pos = 0;
    size_t entries = 0;
    while (std::optional<PasswordEntry> entry = find_password_entry(text, pos)) {
        ++entries;
        if (!store.insert(std::string(entry->key), SecretText(entry->password)))
            TM_LOG(kWarn, "Failed to insert key for \"%.*s\" in password storage", static_cast<int>(entry->key.size()),
                   entry->key.data());
        pos = entry->end;
    }
    return entries;
}

bool load_password_store(RunContext& context, int& exit_status) {
    if (context.password_files.size() > 1) {
        exit_status = 129;  // the option table allows one value; this cannot come from the command line
        return false;
    }
    const bool named = context.password_files.size() == 1;
    std::string path = named ? context.password_files.front() : std::string("passwords.json");
    if (!named) normalize_path(path);

    WipedBuffer buffer;
    switch (read_password_file(path, buffer)) {
        case FileRead::Missing:
            if (!named) return true;
            break;
        case FileRead::Unusable: break;
        case FileRead::Read:
            warn_about_text(path, buffer.text(), scan_password_text(buffer.text(), context.options.passwords));
            return true;
    }
    TM_LOG(kError, "Failed to open password file at %s", escape_file_name(path).c_str());
    exit_status |= 1;
    return false;
}

std::optional<std::string_view> find_password(const PasswordStore& store, uint32_t device_id) {
    if (store.empty()) return std::nullopt;
    char key[16];
    snprintf(key, sizeof key, "%08X", device_id);
    if (const SecretText* password = store.find(key)) return password->view();
    if (const SecretText* password = store.find("default")) return password->view();
    return std::nullopt;
}

}  // namespace tracemill
