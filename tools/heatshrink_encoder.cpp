// Greedy heatshrink encoder: longest match from a hash chain over 3-byte
// prefixes, with a short scan of the nearest positions for 1- and 2-byte
// matches when the parameters make such references cheaper than literals.
#include "heatshrink_encoder.h"

#include <algorithm>

namespace tracemill::tools {
namespace {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    void put(uint32_t value, unsigned width) {
        pending_ = (pending_ << width) | (value & ((1u << width) - 1));
        count_ += width;
        while (count_ >= 8) {
            count_ -= 8;
            out_.push_back(static_cast<uint8_t>(pending_ >> count_));
        }
    }

    // Zero bits complete the last byte.
    void flush() {
        if (count_ > 0) out_.push_back(static_cast<uint8_t>(pending_ << (8 - count_)));
        count_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t pending_ = 0;
    unsigned count_ = 0;
};

constexpr unsigned kHashBits = 15;
constexpr int kMaxChainDepth = 32;
constexpr size_t kNearScan = 16;

struct Match {
    size_t length = 0;
    size_t distance = 0;
};

class Matcher {
public:
    Matcher(const uint8_t* data, size_t size, unsigned window_bits)
        : data_(data), size_(size), window_(size_t{1} << window_bits),
          head_(size_t{1} << kHashBits, -1), previous_(window_, -1) {}

    void insert(size_t pos) {
        if (pos + 3 > size_) return;
        const uint32_t h = hash(pos);
        previous_[pos & (window_ - 1)] = head_[h];
        head_[h] = static_cast<int64_t>(pos);
    }

    Match longest(size_t pos, size_t max_length) const {
        Match best;
        const size_t limit = std::min(max_length, size_ - pos);
        if (pos + 3 <= size_) {
            int64_t candidate = head_[hash(pos)];
            for (int depth = 0; candidate >= 0 && pos - candidate <= window_ && depth < kMaxChainDepth; ++depth) {
                consider(pos, static_cast<size_t>(candidate), limit, best);
                if (best.length == limit) return best;
                const int64_t next = previous_[candidate & (window_ - 1)];
                if (next >= candidate) break;
                candidate = next;
            }
        }
        if (best.length < 3) {
            const size_t reach = std::min({kNearScan, pos, window_});
            for (size_t distance = 1; distance <= reach; ++distance) consider(pos, pos - distance, limit, best);
        }
        return best;
    }

private:
    uint32_t hash(size_t pos) const {
        const uint32_t v = data_[pos] | (uint32_t{data_[pos + 1]} << 8) | (uint32_t{data_[pos + 2]} << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    void consider(size_t pos, size_t candidate, size_t limit, Match& best) const {
        size_t length = 0;
        while (length < limit && data_[candidate + length] == data_[pos + length]) ++length;
        if (length > best.length) best = Match{length, pos - candidate};
    }

    const uint8_t* data_;
    size_t size_;
    size_t window_;
    std::vector<int64_t> head_;
    std::vector<int64_t> previous_;
};

}  // namespace

std::vector<uint8_t> heatshrink_encode(const uint8_t* data, size_t size, unsigned window_bits,
                                       unsigned lookahead_bits) {
    std::vector<uint8_t> out;
    if (window_bits < 4 || window_bits > 15 || lookahead_bits < 3 || lookahead_bits >= window_bits) return out;
    out.reserve(size + size / 8 + 16);
    BitWriter writer(out);
    Matcher matcher(data, size, window_bits);
    const size_t max_length = size_t{1} << lookahead_bits;
    const unsigned reference_bits = 1 + window_bits + lookahead_bits;

    size_t pos = 0;
    while (pos < size) {
        const Match match = matcher.longest(pos, max_length);
        if (match.length * 9 > reference_bits) {
            writer.put(0, 1);
            writer.put(static_cast<uint32_t>(match.distance - 1), window_bits);
            writer.put(static_cast<uint32_t>(match.length - 1), lookahead_bits);
            for (size_t i = 0; i < match.length; ++i) matcher.insert(pos + i);
            pos += match.length;
        } else {
            writer.put(0x100u | data[pos], 9);
            matcher.insert(pos);
            ++pos;
        }
    }
    writer.flush();
    return out;
}

namespace {

bool accepted(unsigned window_bits, unsigned lookahead_bits) {
    return window_bits >= 4 && window_bits <= 15 && lookahead_bits >= 3 && lookahead_bits < window_bits;
}

}  // namespace

std::vector<uint8_t> heatshrink_encode_zeros(uint64_t count, unsigned window_bits, unsigned lookahead_bits) {
    std::vector<uint8_t> out;
    if (!accepted(window_bits, lookahead_bits) || count == 0) return out;
    BitWriter writer(out);
    writer.put(0x100u, 9);
    const uint64_t max_length = uint64_t{1} << lookahead_bits;
    for (uint64_t left = count - 1; left > 0;) {
        const uint64_t length = left < max_length ? left : max_length;
        if (length == 1) {
            writer.put(0x100u, 9);
        } else {
            writer.put(0, 1);
            writer.put(0, window_bits);  // distance 1
            writer.put(static_cast<uint32_t>(length - 1), lookahead_bits);
        }
        left -= length;
    }
    writer.flush();
    return out;
}

std::vector<uint8_t> heatshrink_encode_periodic(const uint8_t* data, size_t size, size_t period,
                                                unsigned window_bits, unsigned lookahead_bits) {
    std::vector<uint8_t> out;
    if (!accepted(window_bits, lookahead_bits) || period == 0 || period > (size_t{1} << window_bits)) return out;
    BitWriter writer(out);
    const size_t max_length = size_t{1} << lookahead_bits;
    const unsigned reference_bits = 1 + window_bits + lookahead_bits;
    for (size_t pos = 0; pos < size;) {
        size_t length = 0;
        if (pos >= period)
            while (length < max_length && pos + length < size && data[pos + length] == data[pos + length - period])
                ++length;
        if (length * 9 > reference_bits) {
            writer.put(0, 1);
            writer.put(static_cast<uint32_t>(period - 1), window_bits);
            writer.put(static_cast<uint32_t>(length - 1), lookahead_bits);
            pos += length;
        } else {
            writer.put(0x100u | data[pos], 9);
            ++pos;
        }
    }
    writer.flush();
    return out;
}

}  // namespace tracemill::tools
