// Command-line front end of the container writer, for scripts and the demo:
//   tm_container compress [-w BITS] [-l BITS] [--no-footer] [-d DEVICE] IN OUT
//   tm_container encrypt -p PASSWORD [-i ROUNDS] [-d DEVICE] [--iv HEX] [--salt HEX] IN OUT
// DEVICE is hexadecimal. Without --iv/--salt both are random.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "container_writer.h"

namespace {

using tracemill::tools::CompressOptions;
using tracemill::tools::EncryptOptions;

int usage() {
    std::fputs(
        "usage: tm_container compress [-w BITS] [-l BITS] [--no-footer] [-d DEVICE] IN OUT\n"
        "       tm_container encrypt -p PASSWORD [-i ROUNDS] [-d DEVICE] [--iv HEX] [--salt HEX] IN OUT\n",
        stderr);
    return 2;
}

bool read_file(const char* path, std::vector<uint8_t>& out) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) out.insert(out.end(), chunk, chunk + n);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool write_file(const char* path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool parse_number(const char* text, int base, uint32_t& value) {
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, base);
    if (end == text || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

template <size_t N>
bool parse_hex_bytes(std::string_view text, std::array<uint8_t, N>& out) {
    if (text.size() != 2 * N) return false;
    for (size_t i = 0; i < N; ++i) {
        uint32_t byte = 0;
        const std::string pair(text.substr(2 * i, 2));
        if (!parse_number(pair.c_str(), 16, byte)) return false;
        out[i] = static_cast<uint8_t>(byte);
    }
    return true;
}

template <size_t N>
void fill_random(std::array<uint8_t, N>& out) {
    std::random_device random;
    for (uint8_t& b : out) b = static_cast<uint8_t>(random());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage();
    const std::string_view command = argv[1];
    if (command != "compress" && command != "encrypt") return usage();

    CompressOptions compress;
    EncryptOptions encrypt;
    bool have_password = false, have_iv = false, have_salt = false;
    std::vector<const char*> paths;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        uint32_t number = 0;
        if (arg == "--no-footer") {
            compress.footer = false;
        } else if (arg == "-w" && has_value && parse_number(argv[++i], 10, number)) {
            compress.window_bits = number;
        } else if (arg == "-l" && has_value && parse_number(argv[++i], 10, number)) {
            compress.lookahead_bits = number;
        } else if (arg == "-d" && has_value && parse_number(argv[++i], 16, number)) {
            compress.device_id = encrypt.device_id = number;
        } else if (arg == "-i" && has_value && parse_number(argv[++i], 10, number)) {
            encrypt.iterations = number;
        } else if (arg == "-p" && has_value) {
            encrypt.password = argv[++i];
            have_password = true;
        } else if (arg == "--iv" && has_value && parse_hex_bytes(argv[++i], encrypt.iv)) {
            have_iv = true;
        } else if (arg == "--salt" && has_value && parse_hex_bytes(argv[++i], encrypt.salt)) {
            have_salt = true;
        } else if (!arg.empty() && arg[0] != '-') {
            paths.push_back(argv[i]);
        } else {
            std::fprintf(stderr, "tm_container: bad option or value near %s\n", argv[i]);
            return usage();
        }
    }
    if (paths.size() != 2 || (command == "encrypt" && !have_password)) return usage();

    std::vector<uint8_t> content;
    if (!read_file(paths[0], content)) {
        std::fprintf(stderr, "tm_container: cannot read %s\n", paths[0]);
        return 1;
    }
    std::vector<uint8_t> container;
    if (command == "compress") {
        container = tracemill::tools::write_compressed_container(content.data(), content.size(), compress);
    } else {
        if (!have_iv) fill_random(encrypt.iv);
        if (!have_salt) fill_random(encrypt.salt);
        container = tracemill::tools::write_encrypted_container(content.data(), content.size(), encrypt);
    }
    if (container.empty()) {
        std::fputs("tm_container: could not build the container (check the parameters)\n", stderr);
        return 1;
    }
    if (!write_file(paths[1], container)) {
        std::fprintf(stderr, "tm_container: cannot write %s\n", paths[1]);
        return 1;
    }
    return 0;
}
