// The write side of the local disk root: output folders created and entered
// by descriptor without following symbolic links, output files staged under a
// temporary name in their final folder and published by rename.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "driver/file_system_root.h"

namespace tracemill {

class LocalOutputTree {
public:
    explicit LocalOutputTree(std::string root) : root_(std::move(root)) {}
    ~LocalOutputTree();
    LocalOutputTree(const LocalOutputTree&) = delete;
    LocalOutputTree& operator=(const LocalOutputTree&) = delete;

    // Creates the folder `relative`; false (not logged) when it exists, a part
    // before it is missing or a link, or mkdir fails.
    bool make_dir(std::string_view relative);
    // See FileSystemRoot::create_staged.
    std::unique_ptr<StagedFile> create_staged(std::string_view relative, uint32_t mode);

private:
    // The descriptors below serve the POSIX kind; the Windows kind works by path.
    // The root folder, opened once (the user named it, so a link to it is followed).
    int root_fd();
    // Enters every part of `folder` below the root with O_NOFOLLOW, creating
    // missing parts when `create`; -1 (logged when `report`) when a part is a
    // link, not a folder, or cannot be entered or made.
    int open_folder(std::string_view folder, bool create, bool report);

    std::string root_;
    // Writers on several threads share the tree; each takes these once per output file.
    std::mutex root_fd_mutex_;
    int root_fd_ = -1;
    std::atomic<unsigned> temporaries_made_{0};  // numbers the temporary names of this run
};

}  // namespace tracemill
