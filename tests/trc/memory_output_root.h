// An output root kept in memory, with switches that make its operations fail,
// for tests of the trace writer and of the pipeline's sink handling.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "driver/file_system_root.h"

namespace tracemill::testing {

class MemoryOutputRoot : public FileSystemRoot {
public:
    MemoryOutputRoot() : FileSystemRoot("memory") {}

    std::map<std::string, std::string> files;  // path → content written so far
    std::vector<std::string> removed;           // paths given to remove, in order
    std::vector<int32_t> open_flags;            // flags of every open request

    bool fail_open = false;
    bool fail_remove = false;
    bool fail_close = false;
    // Bytes every opened file accepts in total before writes come up short; -1: no limit.
    int64_t write_budget = -1;

    bool exists(const std::string& path) const { return files.count(path) != 0; }

    StreamPtr open(std::string_view relative, int32_t flags) override {
        open_flags.push_back(flags);
        if (fail_open) return nullptr;
        std::string& content = files[std::string(relative)];
        content.clear();  // opened for writing: truncated
        return StreamPtr(new FileWriter(content, write_budget, fail_close));
    }

    bool remove(std::string_view relative) override {
        removed.emplace_back(relative);
        if (fail_remove) return false;
        return files.erase(std::string(relative)) != 0;
    }

private:
    class FileWriter : public ByteStream {
    public:
        FileWriter(std::string& content, int64_t budget, bool fail_close)
            : content_(content), budget_(budget), fail_close_(fail_close) {}
        int64_t write(const void* src, uint64_t count) override {
            uint64_t accepted = count;
            if (budget_ >= 0 && accepted > static_cast<uint64_t>(budget_)) accepted = static_cast<uint64_t>(budget_);
            content_.append(static_cast<const char*>(src), accepted);
            if (budget_ >= 0) budget_ -= static_cast<int64_t>(accepted);
            return static_cast<int64_t>(accepted);
        }
        int32_t close() override { return fail_close_ ? -1 : 0; }

    private:
        std::string& content_;
        int64_t budget_;
        bool fail_close_;
    };
};

}  // namespace tracemill::testing
