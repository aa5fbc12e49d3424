// An output root kept in memory, with switches that make its operations fail,
// for tests of the trace writer and of the pipeline's sink handling. Staged
// files become visible in `files` only when committed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "driver/file_system_root.h"

namespace tracemill::testing {

class MemoryOutputRoot : public FileSystemRoot {
public:
    MemoryOutputRoot() : FileSystemRoot("memory") {}

    std::map<std::string, std::string> files;  // published path → content
    std::vector<std::string> created;           // paths of every staged file created, in order
    std::vector<uint32_t> modes;                // their modes
    std::vector<bool> commits_durable;          // `durable` of every commit
    int staged_open = 0;                        // staged files neither committed nor discarded

    bool fail_create = false;
    bool fail_commit = false;
    bool fail_discard = false;
    // Bytes every staged file accepts in total before writes come up short; -1: no limit.
    int64_t write_budget = -1;

    bool exists(const std::string& path) const { return files.count(path) != 0; }

    std::unique_ptr<StagedFile> create_staged(std::string_view relative, uint32_t mode) override {
        if (fail_create) return nullptr;
        created.emplace_back(relative);
        modes.push_back(mode);
        ++staged_open;
        return std::make_unique<Staged>(*this, std::string(relative), write_budget);
    }

private:
    class Staged : public StagedFile {
    public:
        Staged(MemoryOutputRoot& root, std::string path, int64_t budget)
            : root_(root), path_(std::move(path)), budget_(budget) {}
        ~Staged() override { discard(); }
        int64_t write(const void* src, uint64_t count) override {
            uint64_t accepted = count;
            if (budget_ >= 0 && accepted > static_cast<uint64_t>(budget_)) accepted = static_cast<uint64_t>(budget_);
            content_.append(static_cast<const char*>(src), accepted);
            if (budget_ >= 0) budget_ -= static_cast<int64_t>(accepted);
            return static_cast<int64_t>(accepted);
        }
        bool commit(bool durable) override {
            root_.commits_durable.push_back(durable);
            if (root_.fail_commit) return discard() && false;
            root_.files[path_] = content_;
            return finish();
        }
        bool discard() override { return finish() && !root_.fail_discard; }

    private:
        bool finish() {
            if (!done_) --root_.staged_open;
            done_ = true;
            return true;
        }
        MemoryOutputRoot& root_;
        std::string path_;
        std::string content_;
        int64_t budget_;
        bool done_ = false;
    };
};

}  // namespace tracemill::testing
