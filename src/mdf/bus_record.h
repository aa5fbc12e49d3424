// One decoded bus event, shared by the record iterator and the output writer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace tracemill {

enum class BusRecordKind : uint32_t {
    Unsupported = 0,
    CanDataFrame = 1,
    CanRemoteFrame = 2,
    CanErrorFrame = 3,
    LinFrame = 4,
    LinChecksumError = 5,
    LinReceiveError = 6,
    LinTransmissionError = 7,
    LinSyncError = 8,
};

struct CanDetails {
    uint8_t ide;  // 1 = 29-bit identifier
    uint8_t dir;  // 1 = transmitted, 0 = received
    uint8_t edl;  // 1 = CAN FD frame
    uint8_t esi;  // 1 = error state indicator set
    uint8_t brs;  // 1 = bit rate switch
    uint8_t rtr;  // 1 = remote frame
    uint8_t dlc;  // data length code as logged
};

struct CanErrorDetails {
    uint8_t bus_channel;  // an error frame's bus channel lives here
    uint32_t error_type;  // 0..5
};

struct LinDetails {
    uint8_t dir;
    uint8_t received_byte_count;
};

union BusRecordDetails {
    CanDetails can;
    CanErrorDetails error;
    LinDetails lin;
};
static_assert(sizeof(BusRecordDetails) == 8);

// A frame's data bytes. A decoder points them at bytes that stay where they
// are while the record is handed out (the input held in memory, or the
// reader's own buffers), so the usual frame costs no copy; bytes a decoder
// makes up, or puts together from several channels, are the payload's own.
// A copied payload owns its bytes.
class Payload {
public:
    using value_type = uint8_t;
    using const_iterator = const uint8_t*;
    using iterator = const_iterator;

    Payload() = default;
    Payload(std::vector<uint8_t> bytes) : own_(std::move(bytes)) { point_at_own(); }  // NOLINT: records built whole
    Payload(std::initializer_list<uint8_t> bytes) : own_(bytes) { point_at_own(); }
    Payload(const Payload& other) : own_(other.begin(), other.end()) { point_at_own(); }
    Payload(Payload&& other) noexcept { *this = std::move(other); }
    Payload& operator=(const Payload& other) {
        if (this != &other) {
            own_.assign(other.begin(), other.end());
            point_at_own();
        }
        return *this;
    }
    Payload& operator=(Payload&& other) noexcept {
        if (this == &other) return *this;
        own_ = std::move(other.own_);  // its bytes keep their address
        bytes_ = other.bytes_;
        size_ = other.size_;
        other.clear();
        return *this;
    }

    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const_iterator begin() const { return bytes_; }
    const_iterator end() const { return bytes_ + size_; }
    uint8_t operator[](size_t index) const { return bytes_[index]; }

    void clear() {
        bytes_ = nullptr;
        size_ = 0;
    }
    // The first piece is only pointed at; a second one gathers both into the
    // payload's own bytes.
    void append(const uint8_t* bytes, size_t count) {
        if (size_ == 0) {
            bytes_ = bytes;
            size_ = count;
            return;
        }
        if (bytes_ == own_.data()) own_.resize(size_);
        else own_.assign(bytes_, bytes_ + size_);
        own_.insert(own_.end(), bytes, bytes + count);
        point_at_own();
    }
    // `count` bytes of `value`, the payload's own.
    void fill(size_t count, uint8_t value) {
        own_.assign(count, value);
        point_at_own();
    }
    // Keeps the first `count` bytes.
    void cut(size_t count) { size_ = std::min(size_, count); }

    friend bool operator==(const Payload& a, const Payload& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    void point_at_own() {
        bytes_ = own_.data();
        size_ = own_.size();
    }

    const uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    std::vector<uint8_t> own_;  // capacity kept from record to record
};

struct BusRecord {
    double timestamp = 0;  // seconds; absolute once handed out by the iterator
    uint8_t bus_channel = 0;
    uint32_t id = 0;
    Payload data;
    BusRecordKind kind = BusRecordKind::Unsupported;
    BusRecordDetails details{};
};

}  // namespace tracemill
