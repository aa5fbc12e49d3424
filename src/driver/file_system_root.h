// Rooted file-system access: every path is relative to the root folder.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hash_map.h"
#include "streams/byte_stream.h"

namespace tracemill {

enum class PathKind : int32_t { Other = 0, File = 1, Directory = 2, Missing = 3 };

struct PathInfo {
    PathKind kind = PathKind::Missing;
    uint64_t size = 0;  // regular files only
    // Identity of a file or folder, so a walk can notice a folder it is already
    // inside or a file it met before; both 0 when the root kind cannot tell.
    uint64_t device = 0;
    uint64_t inode = 0;
};

// ---- Reading inputs: folder listings, opening and removing log files ----

// One entry of a folder listing: a file or folder, or a name that could not be queried.
struct FolderEntry {
    std::string name;
    PathKind kind = PathKind::Missing;  // File or Directory when error is 0
    int error = 0;                      // the OS reason (errno) when the entry could not be queried
};

// The files and folders inside a folder, in ascending byte order. Entries that
// are neither, and links that lead nowhere, are not listed.
struct FolderListing {
    std::vector<FolderEntry> entries;
    int error = 0;  // the OS reason (errno) when the folder could not be opened or read to its end
};

// What an input file was when it was opened, taken from the open descriptor:
// the file may be deleted only while its name still leads to exactly this.
struct InputIdentity {
    bool known = false;  // false when the root cannot tell; such an input is never deleted
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modified_seconds = 0;
    int64_t modified_nanoseconds = 0;
};

struct OpenedInput {
    StreamPtr stream;  // none when the input cannot be opened as a regular file
    InputIdentity identity;
};

enum class RemovalOutcome : int32_t { Removed, Kept, Failed };

struct InputRemoval {
    RemovalOutcome outcome = RemovalOutcome::Failed;
    const char* kept_because = nullptr;  // Kept: why, as in "it changed during the conversion"
};

// ---- Everything else: output folders and files ----

inline constexpr int32_t OPEN_READ = 1;
inline constexpr int32_t OPEN_WRITE = 2;

// ---- Write side: output files published whole ----

// Permissions asked for new output files (the umask still applies): traces of
// encrypted inputs hold decrypted data and are readable by their owner only.
inline constexpr uint32_t kSharedFileMode = 0666;
inline constexpr uint32_t kPrivateFileMode = 0600;

// A file written under a temporary name in its final folder. It appears under
// its final name only through commit, in one rename, so no reader ever sees
// it half-written; destroying it uncommitted removes the temporary file.
class StagedFile {
public:
    virtual ~StagedFile() = default;
    // Bytes accepted, negative on error (errno tells why).
    virtual int64_t write(const void* src, uint64_t count) = 0;
    // Syncs the file when `durable`, renames it onto the final name (replacing
    // the directory entry, never writing through it) and then syncs the
    // folder when `durable`. On failure nothing is left under the temporary
    // name and the final name is as it was; the caller logs.
    virtual bool commit(bool durable) = 0;
    // Removes the temporary file; false when it could not be removed.
    virtual bool discard() = 0;
    // Replaces `count` bytes at `offset` of what was written so far (a header
    // whose sizes are known only at the end); false on error (errno tells why).
    virtual bool write_at(uint64_t /*offset*/, const void* /*src*/, uint64_t /*count*/) { return false; }
};

// The base answers every operation with failure; the local kind overrides them.
// The output paths this run has published under one root, shared by every
// writer converting into it (one per thread); consulted once per output file.
class PublishedPaths {
public:
    bool contains(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        return paths_.contains(path);
    }
    void insert(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        paths_.insert(path, true);
    }

private:
    std::mutex mutex_;
    HashMap<std::string, bool> paths_;
};

class FileSystemRoot {
public:
    explicit FileSystemRoot(std::string root) : root_(std::move(root)) {}
    virtual ~FileSystemRoot() = default;

    const std::string& root() const { return root_; }
    // root, then "/" when both parts are non-empty, then the relative path.
    std::string full_path(std::string_view relative) const;

    virtual std::optional<PathInfo> stat(std::string_view /*relative*/) { return std::nullopt; }

    // -- Reading inputs --
    virtual FolderListing list(std::string_view /*relative*/) { return FolderListing{{}, ENOSYS}; }
    // Opens a log file for reading and records its identity.
    virtual OpenedInput open_input(std::string_view relative) { return OpenedInput{open(relative, OPEN_READ), {}}; }
    // Removes a converted input, but only while its name, reached without
    // passing a symbolic link, still leads to the file described by `identity`.
    virtual InputRemoval remove_input(std::string_view /*relative*/, const InputIdentity& /*identity*/) {
        return InputRemoval{RemovalOutcome::Kept, "its identity cannot be checked"};
    }

    // -- Output folders and files --
    // Creates the last folder of `relative`; the folders before it must exist
    // and none of them may be a symbolic link.
    virtual bool make_dir(std::string_view /*relative*/) { return false; }
    virtual bool remove(std::string_view /*relative*/) { return false; }
    virtual StreamPtr open(std::string_view /*relative*/, int32_t /*flags*/) { return nullptr; }

    // Write side. A new staged file for `relative`, its folders created as
    // needed; none (after logging why) when a folder on the way or the final
    // name is a symbolic link, a final name is taken by anything but a
    // regular file, or the file cannot be created. `mode` as for open(2).
    virtual std::unique_ptr<StagedFile> create_staged(std::string_view /*relative*/, uint32_t /*mode*/) {
        return nullptr;
    }

    // Output paths published under this root in this run.
    PublishedPaths& published_paths() { return published_paths_; }

private:
    std::string root_;
    PublishedPaths published_paths_;
};

// The local disk; none unless `path` is an existing folder.
std::unique_ptr<FileSystemRoot> local_root_new(std::string path);

}  // namespace tracemill
