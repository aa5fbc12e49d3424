// Merges the records of all data groups of a file into one sequence in time
// order and turns record timestamps into absolute times.
//
// One head per data group with a pending record. With a handful of groups the
// earliest is found by a scan of their keys; with more they are kept as a
// binary min-heap on the pending timestamp, where taking a record re-inserts
// only the advanced head, so a record costs O(log groups). Records of one
// group keep their file order; equal timestamps of different groups come out
// in any order.
#include "mdf/record_iterator.h"

#include <cmath>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "mdf/block_reader.h"
#include "mdf/blocks.h"
#include "mdf/group_plan.h"
#include "mdf/record_reader.h"

namespace tracemill {

namespace {

// A NaN timestamp would break the ordering; it sorts after every number.
double sort_key(const BusRecord& record) {
    const double t = record.timestamp;
    return std::isnan(t) ? std::numeric_limits<double>::infinity() : t;
}

// The key is kept next to the record so that comparisons stay within the
// head array instead of reaching into every reader's record.
struct RecordHead {
    double key;
    BusRecord* record;
    RecordReader* reader;
};

// Whether an earlier data group read the data block or a signal data block
// of `reader`'s group; if not, they are claimed for it. Only groups that
// read records claim their blocks.
bool data_already_read(const RecordReader& reader, BlockSet& claimed) {
    const DgBlock& group = *reader.data_group;
    if (!block_as<DtBlock>(group.data) || reader.layouts.empty()) return false;
    std::vector<const MdfBlock*> blocks{group.data.get()};
    reader.layouts.for_each([&](uint64_t, const RecordLayout& layout) {
        if (layout.signal_block) blocks.push_back(layout.signal_block);
    });
    for (const MdfBlock* block : blocks)
        if (claimed.contains(block)) return true;
    for (const MdfBlock* block : blocks) claimed.insert(block);
    return false;
}

}  // namespace

// Up to this many groups a scan finds the earliest head faster than the heap:
// a few comparisons without a branch, where the heap's moves hinge on
// comparisons that go either way for interleaved groups.
constexpr size_t kScannedGroups = 8;

class RecordIterator {
public:
    BusRecord* current = nullptr;
    double time_offset = 0;
    GroupPlans plans;  // the readers' layouts point into these
    std::vector<std::unique_ptr<RecordReader>> readers;
    std::vector<RecordHead> heads;  // heads[front] holds the earliest pending record
    size_t front = 0;               // always 0 while the heads are a heap
    std::vector<GroupEnd> early_ends;
    bool read_failed = false;

    // Called once per group, when it has no more records.
    void note_end(const RecordReader& reader) {
        if (ended_cleanly(reader)) return;
        early_ends.push_back(group_end(reader));
        if (reader.end == RecordEnd::ReadFailed) read_failed = true;
    }

    void sift_down(size_t at) {
        const size_t n = heads.size();
        for (;;) {
            size_t earliest = at;
            const size_t left = 2 * at + 1;
            const size_t right = left + 1;
            if (left < n && heads[left].key < heads[earliest].key) earliest = left;
            if (right < n && heads[right].key < heads[earliest].key) earliest = right;
            if (earliest == at) return;
            std::swap(heads[at], heads[earliest]);
            at = earliest;
        }
    }

    void make_heap() {
        for (size_t i = heads.size() / 2; i-- > 0;) sift_down(i);
    }

    // Puts `head` in place of the earliest head. The hole at the top moves down
    // along the earlier child to a leaf, then `head` rises from there: the
    // child choice needs no branch, and the record just read from a group is
    // usually later than most others, so it rises little. Which comparison
    // goes which way is random for interleaved groups, and with many groups
    // mispredicted branches would cost more than the comparisons themselves.
    void replace_earliest(RecordHead head) {
        const size_t n = heads.size();
        size_t hole = 0;
        for (size_t child = 1; child < n; child = 2 * hole + 1) {
            if (child + 1 < n) child += heads[child + 1].key < heads[child].key ? 1 : 0;
            heads[hole] = heads[child];
            hole = child;
        }
        while (hole > 0) {
            const size_t parent = (hole - 1) / 2;
            if (!(head.key < heads[parent].key)) break;
            heads[hole] = heads[parent];
            hole = parent;
        }
        heads[hole] = head;
    }

    // With a few heads: the earliest is found where it is, none is moved, as
    // a head just stored would be read back before its stores have settled.
    // `front` is the head just replaced; it is kept on equal keys. The scan
    // of each count is spelled out (a loop is not unrolled at -O2).
    template <size_t... kIndex>
    void scan_heads(double key, std::index_sequence<kIndex...>) {
        const RecordHead* scanned = heads.data();
        size_t earliest = front;
        const auto consider = [&](size_t i) {
            const bool earlier = scanned[i].key < key;
            earliest = earlier ? i : earliest;
            key = earlier ? scanned[i].key : key;
        };
        (consider(kIndex), ...);
        front = earliest;
    }

    void scan_for_earliest(double front_key) {
        static_assert(kScannedGroups == 8, "one case per count of scanned heads");
        switch (heads.size()) {
        case 1: return scan_heads(front_key, std::make_index_sequence<1>());
        case 2: return scan_heads(front_key, std::make_index_sequence<2>());
        case 3: return scan_heads(front_key, std::make_index_sequence<3>());
        case 4: return scan_heads(front_key, std::make_index_sequence<4>());
        case 5: return scan_heads(front_key, std::make_index_sequence<5>());
        case 6: return scan_heads(front_key, std::make_index_sequence<6>());
        case 7: return scan_heads(front_key, std::make_index_sequence<7>());
        case 8: return scan_heads(front_key, std::make_index_sequence<8>());
        default: return;
        }
    }

    // Puts `head` in place of the earliest one and finds the new earliest.
    void replace_front(RecordHead head) {
        if (heads.size() > kScannedGroups) return replace_earliest(head);
        heads[front] = head;
        scan_for_earliest(head.key);
    }

    void hand_out_first() {
        if (heads.empty()) {
            current = nullptr;
            return;
        }
        current = heads[front].record;
        current->timestamp += time_offset;  // only once, right before it is handed out
        // This group is read next, once the record has been written out; with
        // few groups its data is still in the cache.
        if (heads.size() > kScannedGroups) prefetch_next_read(*heads[front].reader);
    }
};

void RecordIteratorDeleter::operator()(RecordIterator* iterator) const { delete iterator; }

RecordIteratorPtr begin_records(const HdBlock& header) {
    RecordIteratorPtr iterator(new (std::nothrow) RecordIterator);
    if (!iterator) return nullptr;
    iterator->time_offset = static_cast<double>(header.start_time_ns) * 1e-9 +
                            60.0 * (static_cast<double>(header.tz_offset_min) + header.dst_offset_min);

    uint32_t group_number = 0;
    BlockSet claimed;  // data and signal data blocks of the groups read so far
    for (const BlockRef& ref : header.data_groups) {
        ++group_number;
        DgBlock* group = block_as<DgBlock>(ref);
        if (!group) continue;
        std::unique_ptr<RecordReader> reader(new (std::nothrow) RecordReader);
        if (!reader) {
            // The groups taken so far are still read; this one is not.
            iterator->early_ends.push_back({group_number, group->file_offset, 0, 0, RecordEnd::OutOfMemory});
            continue;
        }
        reader->data_group = group;
        reader->group_number = group_number;
        if (!prepare_record_layouts(*group, iterator->plans, reader->layouts)) {
            iterator->early_ends.push_back({group_number, group->file_offset, 0, 0, RecordEnd::OutOfMemory});
            continue;
        }
        reader->data_already_read = data_already_read(*reader, claimed);
        BusRecord* first = reader_first(*reader);
        if (!first) {
            iterator->note_end(*reader);
            continue;
        }
        iterator->heads.push_back({sort_key(*first), first, reader.get()});
        iterator->readers.push_back(std::move(reader));
    }
    if (iterator->heads.size() > kScannedGroups) iterator->make_heap();
    else if (!iterator->heads.empty()) iterator->scan_for_earliest(iterator->heads[0].key);
    iterator->hand_out_first();
    return iterator;
}

RecordIteratorPtr begin_records(MdfFile& file) {
    const HdBlock* header = file.header();
    if (!header) return nullptr;
    return begin_records(*header);
}

const BusRecord* current(const RecordIterator& iterator) { return iterator.current; }

double time_offset(const RecordIterator& iterator) { return iterator.time_offset; }

std::span<const GroupEnd> early_ends(const RecordIterator& iterator) { return iterator.early_ends; }

bool read_failed(const RecordIterator& iterator) { return iterator.read_failed; }

void next_record(RecordIterator& iterator) {
    iterator.current = nullptr;
    if (iterator.heads.empty()) return;
    RecordReader* reader = iterator.heads[iterator.front].reader;
    if (BusRecord* next = reader_next(*reader)) {
        iterator.replace_front({sort_key(*next), next, reader});
    } else {
        iterator.note_end(*reader);
        // The group is done: its place goes to the last head.
        const RecordHead last = iterator.heads.back();
        iterator.heads.pop_back();
        if (iterator.front < iterator.heads.size()) {
            iterator.replace_front(last);
        } else if (!iterator.heads.empty()) {  // it was the last head (only a scan leaves it there)
            iterator.front = 0;
            iterator.scan_for_earliest(iterator.heads[0].key);
        }
    }
    iterator.hand_out_first();
}

void end_records(RecordIteratorPtr iterator) { iterator.reset(); }

}  // namespace tracemill
