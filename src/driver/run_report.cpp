// Writing the run report: one JSON object per line, composed by the JSON
// library from texts made valid UTF-8 first.
#include "driver/run_report.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <nlohmann/json.hpp>

#include "common/local_file.h"
#include "common/log.h"
#include "common/log_escape.h"

namespace tracemill {
namespace {

using Json = nlohmann::ordered_json;

Json text(std::string_view value) { return escape_invalid_utf8(value); }

Json text_list(const std::vector<std::string>& values) {
    Json list = Json::array();
    for (const std::string& value : values) list.push_back(text(value));
    return list;
}

Json frames_json(const WrittenFrames& frames) {
    return Json{{"can", frames.can_frames},
                {"can_fd", frames.can_fd_frames},
                {"can_remote", frames.can_remote_frames},
                {"can_error", frames.can_error_frames},
                {"lin", frames.lin_frames},
                {"lin_errors", frames.lin_errors},
                {"total", frames.total()}};
}

Json passed_over_json(const PassedOverRecords& records) {
    return Json{{"lin_frames", records.lin_frames},
                {"lin_errors", records.lin_errors},
                {"can_error_frames", records.can_error_frames},
                {"can_fd_frames", records.can_fd_frames}};
}

// The root's folder and the relative path, with one "/" between them.
std::string full_path(const FileSystemRoot& root, std::string_view relative) {
    std::string path = root.root();
    if (!path.empty() && path.back() != '/' && !relative.empty()) path += '/';
    path.append(relative);
    return path;
}

}  // namespace

std::unique_ptr<RunReport> RunReport::open(const std::string& path, const FileSystemRoot& input_root,
                                           const FileSystemRoot& output_root) {
    int fd = STDOUT_FILENO;
    if (path != "-") {
        fd = create_local_file_for_writing(path);
        if (fd < 0) {
            TM_LOG(kError, "Could not create report file %s: %s", escape_file_name(path).c_str(), std::strerror(errno));
            return nullptr;
        }
    }
    std::unique_ptr<RunReport> report(new (std::nothrow) RunReport(fd, path, input_root, output_root));
    if (!report && fd != STDOUT_FILENO) ::close(fd);
    return report;
}

RunReport::RunReport(int fd, std::string path, const FileSystemRoot& input_root, const FileSystemRoot& output_root)
    : fd_(fd), path_(std::move(path)), input_root_(input_root), output_root_(output_root) {}

RunReport::~RunReport() {
    if (fd_ >= 0 && fd_ != STDOUT_FILENO) ::close(fd_);
}

void RunReport::write_line(std::string line) {
    line += '\n';
    const char* bytes = line.data();
    size_t left = line.size();
    while (left > 0 && !failed_) {
        const ssize_t n = ::write(fd_, bytes, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            TM_LOG(kError, "Could not write report file %s: %s", escape_file_name(path_).c_str(),
                   std::strerror(n < 0 ? errno : EIO));
            failed_ = true;
            return;
        }
        bytes += n;
        left -= static_cast<size_t>(n);
    }
}

void RunReport::file_done(const FileResult& result) {
    if (failed_) return;
    auto output_list = [this](const std::vector<std::string>& paths) {
        Json list = Json::array();
        for (const std::string& path : paths) list.push_back(text(full_path(output_root_, path)));
        return list;
    };
    Json object{{"input", text(full_path(input_root_, result.input_path))},
                {"trace", result.trace_path.empty() ? Json() : text(full_path(output_root_, result.trace_path))},
                {"outputs", output_list(result.outputs)},
                {"status", file_status_name(result.status)},
                {"result", result.result_code},
                {"reason", result.reason.empty() ? Json() : text(result.reason)},
                {"layers", text_list(result.layers)},
                {"serial", result.serial.empty() ? Json() : text(result.serial)},
                {"session", result.session},
                {"split", result.split},
                {"frames", frames_json(result.frames)},
                {"records_passed_over", passed_over_json(result.passed_over)},
                {"bytes_read", result.bytes_read},
                {"bytes_written", result.bytes_written},
                {"seconds", result.seconds},
                {"deleted", result.deleted},
                {"kept_because", text_list(result.kept_because)}};
    // Every text is valid UTF-8 already; replace is only the library's fallback, so dump never throws.
    write_line(object.dump(-1, ' ', false, Json::error_handler_t::replace));
}

bool RunReport::finish(const RunTotals& totals, double seconds, int exit_status) {
    Json object{{"converted", totals.converted},
                {"failed", totals.failed},
                {"passed_over", totals.passed_over},
                {"repeated", totals.repeated},
                {"deleted", totals.deleted},
                {"outputs", totals.outputs},
                {"kept", totals.kept},
                {"frames", frames_json(totals.frames)},
                {"records_passed_over", passed_over_json(totals.records_passed_over)},
                {"bytes_read", totals.bytes_read},
                {"bytes_written", totals.bytes_written},
                {"seconds", seconds},
                {"exit_status", exit_status}};
    if (!failed_) write_line(object.dump(-1, ' ', false, Json::error_handler_t::replace));
    if (fd_ != STDOUT_FILENO && ::close(fd_) != 0 && !failed_) {
        TM_LOG(kError, "Could not write report file %s: %s", escape_file_name(path_).c_str(), std::strerror(errno));
        failed_ = true;
    }
    fd_ = -1;
    return !failed_;
}

}  // namespace tracemill
