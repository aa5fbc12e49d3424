// Output files on a Windows disk, published whole and never through a link.
//
// A trace is written to ".<name>.<pid>-<n>.tmp" in its final folder, created
// with CREATE_NEW (which, like O_EXCL, fails on any name that exists,
// a link included) and marked for deletion when its handle closes: a run
// that ends early for any reason, Ctrl+C or a crash, leaves no temporary.
// Commit flushes it, takes the mark back and moves it onto its name with
// MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), which
// replaces the directory entry and returns once the move is on disk.
//
// Folders are checked part by part: a part that is a symbolic link or
// junction (a reparse point) stops the file. Windows cannot open a folder
// relative to another's handle, so a link put in place between the check and
// the file's creation would be followed; the files it could reach are only
// new temporaries, never an existing file (CREATE_NEW).
//
// Traces of encrypted inputs (private mode, no access for group or others)
// get a security descriptor that lets only the run's own user at them.
#include "driver/local_output_tree.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/log_escape.h"
#include "common/system_error_windows.h"
#include "common/wide_text_windows.h"
#include "driver/local_file_identity_windows.h"
#include "driver/output_folder_parts.h"

namespace tracemill {
namespace {

// Names taken by stale temporaries (another process, a killed run) are skipped.
constexpr int kTemporaryAttempts = 100;
// The longest name a Windows folder takes, in UTF-16 units; UTF-8 bytes never fewer.
constexpr size_t kNameMax = 255;

void log_os_error(const char* what, const std::string& path, DWORD error) {
    TM_LOG(kError, "%s %s: %s", what, escape_file_name(path).c_str(), std::strerror(errno_from_windows(error)));
}

// ".<name>.<pid>-<n>.tmp": hidden, not a log file name, within the name limit,
// and cut only between whole UTF-8 characters.
std::string temporary_name(std::string_view name, unsigned number) {
    constexpr size_t kRoomForSuffix = 40;
    size_t keep = std::min(name.size(), kNameMax - kRoomForSuffix);
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    std::string temporary = ".";
    temporary.append(name.substr(0, keep));
    temporary += '.';
    temporary += std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
    temporary += '-';
    temporary += std::to_string(number);
    temporary += ".tmp";
    return temporary;
}

bool mark_for_deletion(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(remove)};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Only the run's user may open a private file; the descriptor is built once.
SECURITY_ATTRIBUTES* private_file_security() {
    static struct OwnerOnly {
        SECURITY_DESCRIPTOR descriptor{};
        SECURITY_ATTRIBUTES attributes{};
        alignas(DWORD) unsigned char acl[256] = {};
        alignas(DWORD) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)] = {};
        bool ready = false;
        OwnerOnly() {
            HANDLE token;
            if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
            DWORD size = 0;
            const BOOL got = GetTokenInformation(token, TokenUser, user, sizeof user, &size);
            CloseHandle(token);
            if (!got) return;
            PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
            auto* list = reinterpret_cast<ACL*>(acl);
            ready = InitializeAcl(list, sizeof acl, ACL_REVISION) &&
                    AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
                    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                    SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) &&
                    // Protected: the folder's inheritable entries are not added.
                    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
            attributes = SECURITY_ATTRIBUTES{sizeof attributes, &descriptor, FALSE};
        }
    } owner_only;
    return owner_only.ready ? &owner_only.attributes : nullptr;
}

class LocalStagedFile final : public StagedFile {
public:
    LocalStagedFile(HANDLE file, std::wstring temporary, std::wstring final_name, std::string path)
        : file_(file), temporary_(std::move(temporary)), final_name_(std::move(final_name)), path_(std::move(path)) {}
    ~LocalStagedFile() override { discard(); }

    int64_t write(const void* src, uint64_t count) override {
        if (!write_at(end_, src, count)) return -1;
        end_ += count;
        return static_cast<int64_t>(count);
    }

    // Positioned writes leave the end where appending goes on unchanged, as pwrite does.
    bool write_at(uint64_t offset, const void* src, uint64_t count) override {
        const auto* bytes = static_cast<const char*>(src);
        uint64_t done = 0;
        while (done < count) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset + done);
            at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
            const DWORD piece = static_cast<DWORD>(std::min<uint64_t>(count - done, 1u << 30));
            DWORD written = 0;
            if (file_ == INVALID_HANDLE_VALUE || !WriteFile(file_, bytes + done, piece, &written, &at) ||
                written == 0) {
                errno = errno_from_windows(GetLastError());
                return false;
            }
            done += written;
        }
        return true;
    }

    bool commit(bool durable) override {
        if (durable && !FlushFileBuffers(file_)) {
            log_os_error("Could not sync", path_, GetLastError());
            discard();
            return false;
        }
        if (!mark_for_deletion(file_, false)) {
            log_os_error("Could not close", path_, GetLastError());
            discard();
            return false;
        }
        // Moved while still open (the handle shares deletion), so that a failed
        // move can still be marked and closed away.
        const DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
        if (!MoveFileExW(temporary_.c_str(), final_name_.c_str(), flags)) {
            log_os_error("Could not move the finished file to", path_, GetLastError());
            discard();
            return false;
        }
        const HANDLE file = std::exchange(file_, INVALID_HANDLE_VALUE);
        if (!CloseHandle(file)) {
            log_os_error("Could not close", path_, GetLastError());
            return false;
        }
        return true;
    }

    bool discard() override {
        if (file_ == INVALID_HANDLE_VALUE) return true;
        const HANDLE file = std::exchange(file_, INVALID_HANDLE_VALUE);
        // Marked already unless a commit took the mark back before failing.
        const bool removed = mark_for_deletion(file, true);
        CloseHandle(file);
        return removed;
    }

private:
    HANDLE file_;  // INVALID_HANDLE_VALUE once published or removed
    std::wstring temporary_;
    std::wstring final_name_;
    std::string path_;  // relative to the root, for messages
    uint64_t end_ = 0;  // bytes appended so far
};

// The attributes of `path`, INVALID_FILE_ATTRIBUTES with `error` set when it cannot be had.
DWORD attributes_of(const std::wstring& path, DWORD& error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    return attributes;
}

bool is_plain_folder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// The folder `folder` below the root as a wide path ending in "\", every part
// checked and, when `create`, made; false (logged when `report`) otherwise.
bool enter_folder(const std::string& root, std::string_view folder, bool create, bool report, std::wstring& entered) {
    if (!windows_path(root, entered)) {
        if (report) TM_LOG(kError, "Could not open output folder %s: %s", escape_file_name(root).c_str(),
                           std::strerror(EILSEQ));
        return false;
    }
    if (!entered.empty() && entered.back() != L'\\') entered += L'\\';
    std::vector<FolderPart> parts;
    if (!output_folder_parts(folder, report, parts)) return false;
    for (const auto& [part, so_far] : parts) {
        std::wstring wide_part;
        if (!wide_from_utf8(part, wide_part)) {
            if (report) TM_LOG(kError, "Could not create output folder %s: %s", escape_file_name(so_far).c_str(),
                               std::strerror(EILSEQ));
            return false;
        }
        entered += wide_part;
        DWORD error;
        DWORD attributes = attributes_of(entered, error);
        if (attributes == INVALID_FILE_ATTRIBUTES && error == ERROR_FILE_NOT_FOUND && create) {
            if (!CreateDirectoryW(entered.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                if (report) log_os_error("Could not create output folder", so_far, GetLastError());
                return false;
            }
            attributes = attributes_of(entered, error);
        }
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (report) log_os_error("Could not open output folder", so_far, error);
            return false;
        }
        if (!is_plain_folder(attributes)) {
            if (report)
                TM_LOG(kError, "Output folder %s is a symbolic link or not a folder", escape_file_name(so_far).c_str());
            return false;
        }
        entered += L'\\';
    }
    return true;
}

}  // namespace

LocalOutputTree::~LocalOutputTree() = default;

bool LocalOutputTree::make_dir(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    const std::string_view parent = slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
    const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
    if (name.empty() || name == "." || name == "..") return false;
    // Quiet: the file that needs the folder reports what stands in its way.
    std::wstring folder, wide_name;
    if (!enter_folder(root_, parent, false, false, folder) || !wide_from_utf8(name, wide_name)) return false;
    return CreateDirectoryW((folder + wide_name).c_str(), nullptr) != 0;
}

std::unique_ptr<StagedFile> LocalOutputTree::create_staged(std::string_view relative, uint32_t mode) {
    const size_t slash = relative.rfind('/');
    const std::string_view folder = slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
    const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
    const std::string path(relative);
    if (name.empty() || name == "." || name == "..") return nullptr;
    std::wstring folder_path, wide_name;
    if (!enter_folder(root_, folder, true, true, folder_path)) return nullptr;
    if (!wide_from_utf8(name, wide_name)) {
        TM_LOG(kError, "Could not create a temporary file for %s: %s", escape_file_name(path).c_str(),
               std::strerror(EILSEQ));
        return nullptr;
    }
    const std::wstring final_name = folder_path + wide_name;

    // Only a regular file of one name is ever replaced: a link, a folder, or a
    // file that also lives under another name (perhaps outside the output
    // tree, where someone may rely on it) stays as it is.
    const HANDLE existing = CreateFileW(final_name.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        const std::optional<LocalFileIdentity> identity = local_file_identity(existing);
        CloseHandle(existing);
        const char* refusal =
            !identity || identity->reparse_point || !identity->disk_file
                ? "Output path %s is a symbolic link or not a regular file"
            : identity->links > 1 ? "Output path %s has further hard links; it is left as it is"
                                  : nullptr;
        if (refusal != nullptr) {
            TM_LOG(kError, refusal, escape_file_name(path).c_str());
            return nullptr;
        }
    }
    // Group and others without access: the file is for its owner alone.
    SECURITY_ATTRIBUTES* security = (mode & 0077) == 0 ? private_file_security() : nullptr;
    if ((mode & 0077) == 0 && security == nullptr) {
        TM_LOG(kError, "Could not create a temporary file for %s: %s", escape_file_name(path).c_str(),
               "its access cannot be limited to its owner");
        return nullptr;
    }
    for (unsigned attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        std::wstring temporary;
        if (!wide_from_utf8(temporary_name(name, temporaries_made_.fetch_add(1) + 1), temporary)) break;
        temporary.insert(0, folder_path);
        const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, security,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            log_os_error("Could not create a temporary file for", path, error);
            return nullptr;
        }
        if (!mark_for_deletion(file, true)) {
            log_os_error("Could not create a temporary file for", path, GetLastError());
            CloseHandle(file);
            DeleteFileW(temporary.c_str());
            return nullptr;
        }
        auto staged = std::unique_ptr<StagedFile>(new (std::nothrow) LocalStagedFile(file, temporary, final_name, path));
        if (!staged) {
            mark_for_deletion(file, true);
            CloseHandle(file);
        }
        return staged;
    }
    TM_LOG(kError, "Could not create a temporary file for %s: %s", escape_file_name(path).c_str(), std::strerror(EEXIST));
    return nullptr;
}

}  // namespace tracemill
