// Open-addressing hash map shared by every subsystem.
//
// Linear probing over a table of `capacity` slots that wraps at the end; each
// slot has one tag byte (0 = empty, otherwise the low byte of the key's hash
// with bit 7 set) and a sentinel tag 0xFF follows the last slot. The growth
// rule and the hashes are fixed because iteration order (slot order) is
// observable in the header metadata, so they must not be "improved".
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace tracemill {

inline constexpr uint64_t kHashMultiplier = 0xc6a4a7935bd1e99dULL;

inline uint64_t hash_integer(uint64_t key) { return key * kHashMultiplier; }

inline uint64_t hash_text(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    auto load64 = [](const unsigned char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        return v;
    };
    if (n == 0) return 1;
    if (n == 4) {
        uint32_t v;
        std::memcpy(&v, bytes, 4);
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
        return uint64_t{v} * kHashMultiplier;
    }
    if (n == 8) return load64(bytes) * kHashMultiplier;
    uint64_t h = bytes[0];
    size_t i = 0;
    for (; i + 8 <= n; i += 8) h += load64(bytes + i) * kHashMultiplier;
    for (; i < n; ++i) h = h * 1023 - bytes[i];
    return h ^ std::rotl(h, 26);
}

// Key traits: how a key type hashes and how a lookup key compares with it.
template <class K, class Enable = void>
struct HashKey;

template <class K>
struct HashKey<K, std::enable_if_t<std::is_integral_v<K>>> {
    using Lookup = K;
    static uint64_t hash(K key) { return hash_integer(static_cast<uint64_t>(key)); }
    static bool equal(const K& stored, K key) { return stored == key; }
};

template <class T>
struct HashKey<T*> {
    using Lookup = const T*;
    static uint64_t hash(const T* key) { return hash_integer(reinterpret_cast<uintptr_t>(key)); }
    static bool equal(T* stored, const T* key) { return stored == key; }
};

template <>
struct HashKey<std::string> {
    using Lookup = std::string_view;
    static uint64_t hash(std::string_view key) { return hash_text(key); }
    static bool equal(const std::string& stored, std::string_view key) { return stored == key; }
};

// A 64-bit key taken from a file, such as a record id: whoever wrote the file
// chose it. Any fixed hash lets a file be written whose keys all share one
// home slot (the home slot uses only the low half of a hash: ids k << 32 do
// so with the plain product), and every lookup then probes through all of
// them. These keys are hashed with a seed drawn once per process instead; no
// order of theirs is observable. Kept apart from plain integers, whose slots
// are pinned.
struct FileKey {
    uint64_t value = 0;
    FileKey() = default;
    FileKey(uint64_t key) : value(key) {}
    operator uint64_t() const { return value; }
};

inline uint64_t file_key_seed() {
    static const uint64_t seed = [] {
        uint64_t drawn = 0;
        drawn ^= reinterpret_cast<uintptr_t>(&drawn);  // differs per run, should no random device answer
        try {
            std::random_device device;
            drawn ^= (uint64_t{device()} << 32) ^ device();
        } catch (...) {
        }
        return drawn;
    }();
    return seed;
}

template <>
struct HashKey<FileKey> {
    using Lookup = uint64_t;
    // The seeded key through a full 64-bit mix, so every bit of it reaches the low half.
    static uint64_t hash(uint64_t key) {
        uint64_t h = key ^ file_key_seed();
        h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdULL;
        h = (h ^ (h >> 33)) * 0xc4ceb9fe1a85ec53ULL;
        return h ^ (h >> 33);
    }
    static bool equal(const FileKey& stored, uint64_t key) { return stored.value == key; }
};

template <class K, class V>
class HashMap {
public:
    using Traits = HashKey<K>;
    using Lookup = typename Traits::Lookup;

    struct Entry {
        K key{};
        V value{};
    };

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    size_t capacity() const { return capacity_; }

    // Inserts key → value unless the key is present. Returns false (and keeps
    // the old entry) when the key was already there.
    bool insert(K key, V value) {
        if (find_slot(key) != kNotFound) return false;
        const uint64_t hash = Traits::hash(key_lookup(key));
        grow_if_needed();
        place(std::move(key), std::move(value), hash);
        return true;
    }

    V* find(Lookup key) {
        size_t slot = find_slot(key);
        return slot == kNotFound ? nullptr : &slots_[slot].value;
    }
    const V* find(Lookup key) const { return const_cast<HashMap*>(this)->find(key); }
    bool contains(Lookup key) const { return find_slot(key) != kNotFound; }

    void clear() {
        tags_.clear();
        slots_.clear();
        capacity_ = 0;
        count_ = 0;
    }

    // Visits entries in slot order; the order is part of the observable behaviour.
    template <class Fn>
    void for_each(Fn&& fn) {
        for (size_t i = 0; i < capacity_; ++i)
            if (tags_[i] != 0) fn(slots_[i].key, slots_[i].value);
    }
    template <class Fn>
    void for_each(Fn&& fn) const {
        for (size_t i = 0; i < capacity_; ++i)
            if (tags_[i] != 0) fn(slots_[i].key, slots_[i].value);
    }

    // Slot index of a key, for tests that pin the probing.
    size_t slot_of(Lookup key) const { return find_slot(key); }
    static constexpr size_t kNotFound = static_cast<size_t>(-1);

private:
    static Lookup key_lookup(const K& key) {
        if constexpr (std::is_same_v<K, std::string>) return std::string_view(key);
        else return static_cast<Lookup>(key);
    }
    static uint8_t tag_of(uint64_t hash) { return static_cast<uint8_t>(hash) | 0x80; }
    size_t home_slot(uint64_t hash) const {
        return static_cast<size_t>((uint64_t{capacity_} * static_cast<uint32_t>(hash)) >> 32);
    }

    size_t find_slot(Lookup key) const {
        if (capacity_ == 0) return kNotFound;
        const uint64_t hash = Traits::hash(key);
        const uint8_t tag = tag_of(hash);
        size_t slot = home_slot(hash);
        for (size_t probes = 0; probes < capacity_; ++probes) {
            if (tags_[slot] == 0) return kNotFound;
            if (tags_[slot] == tag && Traits::equal(slots_[slot].key, key)) return slot;
            if (++slot == capacity_) slot = 0;
        }
        return kNotFound;
    }

    void grow_if_needed() {
        const int limit = static_cast<int>(static_cast<float>(capacity_) * 0.85f);
        if (static_cast<long long>(count_) + 2 <= limit) return;
        const size_t wanted = count_ * 3 / 2;
        if (wanted > capacity_ || wanted == count_)
            rebuild((4 + static_cast<size_t>(static_cast<int>(static_cast<float>(wanted) / 0.85f))) | 1);
    }

    void rebuild(size_t new_capacity) {
        std::vector<uint8_t> old_tags = std::move(tags_);
        std::vector<Entry> old_slots = std::move(slots_);
        const size_t old_capacity = capacity_;
        tags_.assign(new_capacity, 0);
        tags_.push_back(0xFF);  // sentinel behind the last slot
        slots_.clear();
        slots_.resize(new_capacity);
        capacity_ = new_capacity;
        count_ = 0;
        for (size_t i = 0; i < old_capacity; ++i) {
            if (old_tags[i] == 0) continue;
            Entry& e = old_slots[i];
            const uint64_t hash = Traits::hash(key_lookup(e.key));
            place(std::move(e.key), std::move(e.value), hash);
        }
    }

    void place(K key, V value, uint64_t hash) {
        size_t slot = home_slot(hash);
        while (tags_[slot] != 0)
            if (++slot == capacity_) slot = 0;
        tags_[slot] = tag_of(hash);
        slots_[slot].key = std::move(key);
        slots_[slot].value = std::move(value);
        ++count_;
    }

    std::vector<uint8_t> tags_;
    std::vector<Entry> slots_;
    size_t capacity_ = 0;
    size_t count_ = 0;
};

}  // namespace tracemill
