// The benchmark inputs are what the benchmark table claims they are: the
// generator's files open with the converter's reader, hold the stated number
// of events in the stated mix and storage kinds, and are the same for a seed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "mdf/block_reader.h"
#include "mdf/blocks.h"
#include "mdf/mdf_file.h"
#include "mdf/metadata.h"
#include "mdf/record_iterator.h"
#include "streams/memory_stream.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;

const std::string kGenerator = std::string(TRACEMILL_TOOLS_DIR) + "/tm_benchgen";


std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int generate(const std::string& arguments) {
    const int status = std::system((kGenerator + " " + arguments + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the reader finds in a generated file.
struct Contents {
    bool opened = false;
    size_t data_groups = 0;
    size_t vlsd_groups = 0;  // VLSD channel groups over all data groups
    std::map<BusRecordKind, size_t> kinds;
    size_t fd_frames = 0;
    size_t long_fd_frames = 0;  // more than 8 data bytes
    size_t records = 0;
    bool in_time_order = true;
    std::string split;  // the logger's split number from the header metadata
};

Contents read_contents(const std::string& path) {
    Contents c;
    const std::vector<uint8_t> bytes = read_file(path);
    std::unique_ptr<MemoryStream> stream = memory_stream_from(bytes.data(), bytes.size());
    MdfFilePtr file = open_mdf(stream.get());
    if (!file || !file->header()) return c;
    c.opened = true;
    read_header_metadata(*file).for_each([&](const std::string&, const MetadataEntry& e) {
        if (e.name == "split") c.split = e.value;
    });
    for (const BlockRef& dg : file->header()->data_groups) {
        ++c.data_groups;
        for (const BlockRef& cg : block_as<DgBlock>(dg)->channel_groups) c.vlsd_groups += block_as<CgBlock>(cg)->is_vlsd() ? 1 : 0;
    }
    RecordIteratorPtr it = begin_records(*file);
    double last = -1e300;
    for (const BusRecord* r = current(*it); r; r = current(*it)) {
        ++c.records;
        ++c.kinds[r->kind];
        if (r->kind == BusRecordKind::CanDataFrame && r->details.can.edl) {
            ++c.fd_frames;
            c.long_fd_frames += r->data.size() > 8 ? 1 : 0;
        }
        c.in_time_order &= r->timestamp >= last;
        last = r->timestamp;
        next_record(*it);
    }
    end_records(std::move(it));
    return c;
}

TEST(BenchInputs, LargeLogHoldsEveryEventInTheStatedMix) {
    struct Case {
        int groups;
        size_t vlsd_groups;  // every second data group keeps CAN payloads in a VLSD group
    };
    for (const Case& k : {Case{4, 2}, Case{64, 32}}) {
        SCOPED_TRACE(k.groups);
        TempDir dir;
        ASSERT_EQ(generate("-o " + (dir / "log.mf4") + " -n 20000 -s 3 -g " + std::to_string(k.groups)), 0);
        const Contents c = read_contents(dir / "log.mf4");
        ASSERT_TRUE(c.opened);
        EXPECT_EQ(c.data_groups, static_cast<size_t>(k.groups));
        EXPECT_EQ(c.vlsd_groups, k.vlsd_groups);
        EXPECT_EQ(c.records, 20000u);
        EXPECT_TRUE(c.in_time_order);
        const size_t data = c.kinds.count(BusRecordKind::CanDataFrame) ? c.kinds.at(BusRecordKind::CanDataFrame) : 0;
        EXPECT_GT(data - c.fd_frames, 20000u * 80 / 100) << "classic frames dominate";
        EXPECT_GT(c.fd_frames, 20000u * 5 / 100);
        EXPECT_GT(c.long_fd_frames, c.fd_frames / 2);
        for (BusRecordKind kind : {BusRecordKind::CanRemoteFrame, BusRecordKind::CanErrorFrame, BusRecordKind::LinFrame})
            EXPECT_GT(c.kinds.count(kind) ? c.kinds.at(kind) : 0, 100u) << static_cast<int>(kind);
    }
}

TEST(BenchInputs, SameSeedSameBytesOtherSeedOtherBytes) {
    TempDir dir;
    ASSERT_EQ(generate("-o " + (dir / "a.mf4") + " -n 3000 -s 11"), 0);
    ASSERT_EQ(generate("-o " + (dir / "b.mf4") + " -n 3000 -s 11"), 0);
    ASSERT_EQ(generate("-o " + (dir / "c.mf4") + " -n 3000 -s 12"), 0);
    const std::vector<uint8_t> a = read_file(dir / "a.mf4");
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, read_file(dir / "b.mf4"));
    EXPECT_NE(a, read_file(dir / "c.mf4"));
}

TEST(BenchInputs, SmallFilesAreDistinctSplitsOfTheStatedSize) {
    TempDir dir;
    ASSERT_EQ(generate("-o " + (dir / "small") + " --files 3 -n 100 -s 5"), 0);
    const std::pair<const char*, const char*> expected[] = {
        {"small_00000.mf4", "1"}, {"small_00001.mf4", "2"}, {"small_00002.mf4", "3"}};
    for (const auto& [name, split] : expected) {
        SCOPED_TRACE(name);
        const Contents c = read_contents(dir / "small" + "/" + name);
        ASSERT_TRUE(c.opened);
        EXPECT_EQ(c.records, 100u);
        EXPECT_EQ(c.split, split);
    }
    EXPECT_FALSE(fs::exists(dir / "small" + "/small_00003.mf4"));
}

TEST(BenchInputs, RefusesBadOptionValues) {
    TempDir dir;
    for (const char* arguments : {"-n -5", "-n 12x", "-g 0", "--files 0", "-s"}) {
        SCOPED_TRACE(arguments);
        EXPECT_NE(generate("-o " + (dir / "x.mf4") + " " + arguments), 0);
        EXPECT_FALSE(fs::exists(dir / "x.mf4"));
    }
}

}  // namespace
}  // namespace tracemill
