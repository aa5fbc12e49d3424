// A file read through a window as large as itself, as the pipeline reads it
// by default, is served to the record reader by pointer; the records must be
// exactly those a small window (read and seek per field) yields, including
// the groups' ends on a file whose last block is cut short.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mdf/record_test_support.h"
#include "streams/buffered_stream.h"
#include "streams/file_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::file_with;
using testing_support::Frame;
using testing_support::frame_of;
using testing_support::TempFile;
using tools::BusDataGroup;
using tools::BusGroupKind;
using tools::BusGroupOptions;
using tools::PayloadStorage;

struct WindowRead {
    bool opened = false;
    bool data_by_pointer = false;  // every data block of the file is served from memory
    std::vector<Frame> frames;
    std::string log;
};

// Log lines without their leading time of day, which differs between runs.
std::string without_times(const std::string& log) {
    std::string out;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        out += line.size() > 18 ? line.substr(18) : line;
        out += '\n';
        start = end + 1;
    }
    return out;
}

WindowRead read_through_window(const std::string& path, uint64_t window) {
    WindowRead result;
    StreamPtr stream = open_buffered_stream(open_file_stream(path, kFileRead), window);
    if (!stream) return result;
    uint8_t peek[20];  // the pipeline looks for a container header first
    stream_read(stream.get(), peek, sizeof peek);
    stream_seek(stream.get(), 0, kSeekSet);
    ::testing::internal::CaptureStderr();
    {
        MdfFilePtr file = open_mdf(stream.get());
        if (file) {
            result.opened = true;
            result.data_by_pointer = true;
            for (const BlockRef& dg : file->header()->data_groups)
                if (const DataBlock* dt = block_as<DtBlock>(block_as<DgBlock>(dg)->data)) result.data_by_pointer &= dt->direct_data() != nullptr;
            RecordIteratorPtr it = begin_records(*file);
            for (const BusRecord* r = current(*it); r; r = current(*it)) {
                result.frames.push_back(frame_of(*r));
                next_record(*it);
            }
            end_records(std::move(it));
        }
    }
    result.log = without_times(::testing::internal::GetCapturedStderr());
    stream_close(std::move(stream));
    return result;
}

// Two data groups, CAN payloads in an SD block and in a VLSD group, remote frames too.
tools::FileSpec mixed_file() {
    BusDataGroup sd(1), vlsd(1);
    const size_t sd_can = sd.add_group(BusGroupKind::CanDataFrame,
                                       BusGroupOptions().with_payload(PayloadStorage::SignalData, 64));
    const size_t remote = sd.add_group(BusGroupKind::CanRemoteFrame);
    const size_t vlsd_can = vlsd.add_group(BusGroupKind::CanDataFrame,
                                           BusGroupOptions().with_payload(PayloadStorage::VlsdGroup, 64));
    for (int i = 0; i < 300; ++i) {
        std::vector<uint8_t> data(i % 9 == 0 ? 48 : 8, static_cast<uint8_t>(i));
        sd.add(sd_can, tools::can_frame(i * 0.002, 0x100 + i % 7, data));
        if (i % 10 == 0) sd.add(remote, tools::remote_frame(i * 0.002 + 0.0005, 0x7FF, 4));
        vlsd.add(vlsd_can, tools::fd_frame(i * 0.002 + 0.001, 0x18000000 + i, data, 2));
    }
    return file_with({sd.take(), vlsd.take()}, 1'000'000'000);
}

TEST(WholeFileWindow, RecordsMatchThoseOfASmallWindow) {
    struct Case {
        const char* name;
        bool cut_last_block;  // the file ends inside its last data block
    };
    for (const Case& c : {Case{"complete file", false}, Case{"last data block cut short", true}}) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = tools::write_mdf(mixed_file()).bytes;
        if (c.cut_last_block) bytes.resize(bytes.size() - 100);
        TempFile file(bytes);

        const WindowRead whole = read_through_window(file.path(), bytes.size());
        const WindowRead small = read_through_window(file.path(), 4096);
        ASSERT_TRUE(whole.opened);
        ASSERT_TRUE(small.opened);
        EXPECT_TRUE(whole.data_by_pointer);
        EXPECT_FALSE(small.data_by_pointer);
        // 300 + 30 + 300 frames; the cut ends one group a few records early.
        if (c.cut_last_block) EXPECT_GT(whole.frames.size(), 600u);
        else EXPECT_EQ(whole.frames.size(), 630u);
        EXPECT_EQ(whole.frames, small.frames);
        EXPECT_EQ(whole.log, small.log);
        EXPECT_EQ(whole.log.empty(), !c.cut_last_block);
    }
}

}  // namespace
}  // namespace tracemill
