// The input walk and the creation of output folders.
#include "driver/input_walk.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "common/log.h"
#include "common/log_escape.h"
#include "driver/parallel_conversion.h"
#include "driver/paths.h"

namespace tracemill {

namespace {

// Result for a path that is neither file nor folder, or cannot be queried.
constexpr int kUnusablePath = 129;

struct FolderId {
    uint64_t device;
    uint64_t inode;
};

class Walk {
public:
    Walk(ConversionContext& context, const FileConverter& convert) : context_(context), convert_(convert) {}

    // `listed`: the path comes from a folder listing rather than from the user.
    int path(std::string_view in, std::string_view out, bool listed) {
        std::optional<PathInfo> info = context_.input_root->stat(in);
        // Another shard's file, or its missing or unusable path, is that shard's to report.
        if ((!info || info->kind != PathKind::Directory) && !ours(in)) return 0;
        // Under -d this may be an earlier file reached again through a link:
        // whether it is still there is known once the files before it are done.
        if (info && info->kind == PathKind::File && context_.parallel != nullptr &&
            context_.options->delete_converted && context_.parallel->wait_when_met_before(*info))
            info = context_.input_root->stat(in);
        if (!info) {
            // Unlike a missing path this is not the user's doing; the path fails and the walk goes on.
            TM_LOG(kFatal, "Error during stat of %s, exiting", escape_file_name(in).c_str());
            return unusable(in, kUnusablePath, "could not be queried");
        }
        switch (info->kind) {
            case PathKind::Directory: return folder(in, out, *info);
            case PathKind::File: return file(in, out);
            case PathKind::Missing:
                // Gone since its folder was listed: removed by this run (-d, or a link to an input
                // it deleted) or by someone else. Nobody asked for it by name.
                if (listed) {
                    TM_LOG(kDebug, "Passing over %s: it disappeared during the walk", escape_file_name(in).c_str());
                    return 0;
                }
                TM_LOG(kWarn, "Could not find input file/folder %s", escape_file_name(in).c_str());
                return unusable(in, 1, "not found");
            case PathKind::Other: break;
        }
        return unusable(in, kUnusablePath, "neither file nor folder");
    }

private:
    // Whether the file or failed path `in` belongs to the run's shard.
    bool ours(std::string_view in) const { return context_.options == nullptr || context_.options->shard.holds(in); }

    bool on_current_path(const PathInfo& info) const {
        if (info.device == 0 && info.inode == 0) return false;
        for (const FolderId& id : open_folders_)
            if (id.device == info.device && id.inode == info.inode) return true;
        return false;
    }

    // A path the walk could not use fails like a file that could not be converted.
    int unusable(std::string_view in, int code, const char* reason) {
        FileResult result;
        result.input_path = in;
        result.status = FileStatus::Failed;
        result.result_code = code;
        result.reason = reason;
        report(std::move(result));
        return code;
    }

    // Tells the observer about a file, in its place among the files converted on other threads.
    void report(FileResult result) {
        if (context_.parallel != nullptr)
            context_.parallel->settled(std::move(result));
        else if (context_.observer != nullptr)
            context_.observer->file_done(result);
    }

    static std::string child(std::string_view parent, const std::string& name) {
        std::string path(parent);
        if (!path.empty() && path.back() != '/') path += '/';
        path += name;
        return path;
    }

    int folder(std::string_view in, std::string_view out, const PathInfo& info) {
        // A symbolic link back to an enclosing folder would make the walk endless.
        if (on_current_path(info)) {
            TM_LOG(kWarn, "Skipping %s: it leads back into a folder being walked", escape_file_name(in).c_str());
            return 0;
        }
        const FolderListing listing = context_.input_root->list(in);
        int result = 0;
        // A folder gone since it was looked at is passed over like a vanished file.
        // A folder that cannot be listed is reported by the shard of the files it holds.
        if (listing.error != 0 && listing.error != ENOENT && ours(child(in, "x"))) {
            TM_LOG(kError, "Could not list folder %s: %s", escape_file_name(in).c_str(), std::strerror(listing.error));
            result = kUnusablePath;
        }
        open_folders_.push_back({info.device, info.inode});
        for (const FolderEntry& entry : listing.entries) {
            const std::string child_in = child(in, entry.name);
            if (entry.error != 0) {
                if (!ours(child_in)) continue;
                TM_LOG(kError, "Error during stat of %s: %s", escape_file_name(child_in).c_str(),
                       std::strerror(entry.error));
                result |= kUnusablePath;
                continue;
            }
            result |= path(child_in, child(out, entry.name), true);
        }
        open_folders_.pop_back();
        return result;
    }

    int file(std::string_view in, std::string_view out) {
        FileResult result;
        result.input_path = in;
        if (!is_log_file(in)) {
            result.status = FileStatus::PassedOver;
            result.reason = "not a log file";
            report(std::move(result));
            return 0;
        }
        const size_t cut = std::min(out.size(), file_extension(out).size() + 1);
        const std::string_view stem = out.substr(0, out.size() - cut);
        // The file's lines reach the log together, after a line naming the
        // file, and only when there are any.
        std::string heading = "Converting " + escape_file_name(in);
        int code = 0;
        {
            LogCapture capture(kInfo, heading, context_.parallel != nullptr);
            if (context_.create_directories && context_.output_root != nullptr)
                make_dirs(*context_.output_root, parent_folder(stem));
            if (context_.parallel != nullptr) {
                // The result comes in its place from the thread that converts it.
                std::string lines = capture.take_lines();
                if (!lines.empty()) heading.clear();
                context_.parallel->submit(std::string(in), std::string(stem), std::move(lines), std::move(heading));
                return 0;
            }
            code = convert_log_file(context_, convert_, in, stem, result);
        }
        report(std::move(result));
        return code;
    }

    ConversionContext& context_;
    const FileConverter& convert_;
    std::vector<FolderId> open_folders_;
};

// "_out" goes before the first "/" of a top-level folder: run1/ becomes run1_out/.
std::string with_out_suffix(std::string_view folder) {
    std::string out(folder);
    const size_t slash = out.find('/');
    out.insert(slash == std::string::npos ? out.size() : slash, "_out");
    return out;
}

// The counting walk: the same order and the same loop guard, no messages.
void count_path(FileSystemRoot& root, const Shard& shard, const std::string& in, std::vector<FolderId>& open_folders,
                InputCount& count) {
    const std::optional<PathInfo> info = root.stat(in);
    if (!info) return;
    if (info->kind == PathKind::File) {
        if (is_log_file(in) && shard.holds(in)) {
            ++count.files;
            count.bytes += info->size;
        }
        return;
    }
    if (info->kind != PathKind::Directory) return;
    for (const FolderId& id : open_folders)
        if ((id.device != 0 || id.inode != 0) && id.device == info->device && id.inode == info->inode) return;
    open_folders.push_back({info->device, info->inode});
    std::string prefix = in;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    for (const FolderEntry& entry : root.list(in).entries)
        if (entry.error == 0) count_path(root, shard, prefix + entry.name, open_folders, count);
    open_folders.pop_back();
}

}  // namespace

int convert_log_file(ConversionContext& context, const FileConverter& convert, std::string_view in,
                     std::string_view stem, FileResult& result) {
    const auto started = std::chrono::steady_clock::now();
    context.result = &result;
    const int code = convert(context, in, stem);
    context.result = nullptr;
    if (code != 0) TM_LOG(kError, "Error during conversion of %s", escape_file_name(in).c_str());
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.result_code = code;
    if (code != 0) {
        result.status = FileStatus::Failed;
        if (result.reason.empty()) result.reason = "conversion failed";
    }
    return code;
}

InputCount count_inputs(FileSystemRoot& root, const std::vector<std::string>& inputs, const Shard& shard) {
    InputCount count;
    std::vector<FolderId> open_folders;
    for (const std::string& input : inputs) count_path(root, shard, input, open_folders, count);
    return count;
}

int walk_path(ConversionContext& context, std::string_view in, std::string_view out, const FileConverter& convert) {
    if (context.input_root == nullptr) return kUnusablePath;
    return Walk(context, convert).path(in, out, false);
}

int convert_inputs(ConversionContext& context, const std::vector<std::string>& inputs, const FileConverter& convert) {
    if (context.input_root == nullptr || context.options == nullptr) return kUnusablePath;
    int result = 0;
    for (const std::string& input : inputs) {
        std::string out = input;
        if (!context.options->no_append_root) {
            std::optional<PathInfo> info = context.input_root->stat(input);
            if (!info) {
                TM_LOG(kFatal, "Could not query %s for information", escape_file_name(input).c_str());
                return kUnusablePath;
            }
            if (info->kind == PathKind::Directory) out = with_out_suffix(input);
        }
        result |= walk_path(context, input, out, convert);
    }
    return result;
}

bool make_dirs(FileSystemRoot& root, std::string_view folder) {
    std::string prefix;
    size_t start = 0;
    while (start <= folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string_view::npos) end = folder.size();
        if (end > start) {
            if (!prefix.empty()) prefix += '/';
            prefix.append(folder.substr(start, end - start));
            std::optional<PathInfo> info = root.stat(prefix);
            if (!info) return false;
            if (info->kind == PathKind::Missing) {
                if (!root.make_dir(prefix)) return false;
            } else if (info->kind != PathKind::Directory) {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

}  // namespace tracemill
