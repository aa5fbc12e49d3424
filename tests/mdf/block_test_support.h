// Helpers for the block reader tests: hand-built block bytes, opening an
// image from memory, and capturing what the logger writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mdf/block_reader.h"
#include "mdf/mdf_file.h"
#include "streams/memory_stream.h"

namespace tracemill::testing_support {

// Blocks laid out by hand, for tests about specific bytes. The first 64
// bytes are left for the ID block.
class RawFile {
public:
    RawFile() : bytes(64, 0) {}

    // Appends a block on an 8-byte boundary and returns its offset. Links are
    // written as given (0 = no block); `length` overrides the true length.
    uint64_t add(std::string_view id, const std::vector<uint64_t>& links, const std::vector<uint8_t>& data,
                 uint64_t length = 0, uint64_t link_count = ~uint64_t{0}) {
        while (bytes.size() % 8) bytes.push_back(0);
        const uint64_t offset = bytes.size();
        bytes.insert(bytes.end(), id.begin(), id.end());
        put(0, 4);
        put(length ? length : 24 + 8 * links.size() + data.size(), 8);
        put(link_count != ~uint64_t{0} ? link_count : links.size(), 8);
        for (uint64_t link : links) put(link, 8);
        bytes.insert(bytes.end(), data.begin(), data.end());
        return offset;
    }

    // Overwrites link `index` of the block at `block`.
    void set_link(uint64_t block, size_t index, uint64_t target) {
        for (size_t i = 0; i < 8; ++i) bytes[block + 24 + 8 * index + i] = static_cast<uint8_t>(target >> (8 * i));
    }

    std::vector<uint8_t> bytes;

private:
    void put(uint64_t value, size_t width) {
        for (size_t i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
};

// 72 data bytes of a CN block with the given placement.
inline std::vector<uint8_t> channel_data(uint32_t byte_offset = 0, uint32_t bit_count = 8) {
    std::vector<uint8_t> data(72, 0);
    for (size_t i = 0; i < 4; ++i) data[4 + i] = static_cast<uint8_t>(byte_offset >> (8 * i));
    for (size_t i = 0; i < 4; ++i) data[8 + i] = static_cast<uint8_t>(bit_count >> (8 * i));
    return data;
}

inline std::unique_ptr<MemoryStream> stream_of(const std::vector<uint8_t>& bytes) {
    return memory_stream_from(bytes.data(), bytes.size());
}

// An image opened from memory; the file goes before its stream.
struct OpenedImage {
    std::unique_ptr<MemoryStream> stream;
    MdfFilePtr file;
};

inline OpenedImage open_image(const std::vector<uint8_t>& bytes) {
    OpenedImage image{stream_of(bytes), nullptr};
    image.file = open_mdf(image.stream.get());
    return image;
}

// Runs `action` and returns everything it logged.
template <class Action>
std::string captured_log(Action&& action) {
    ::testing::internal::CaptureStderr();
    action();
    return ::testing::internal::GetCapturedStderr();
}

}  // namespace tracemill::testing_support
