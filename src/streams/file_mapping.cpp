// Mapping a plain input file read-only, and the SIGBUS handler that turns a
// page the system cannot bring in into zeros and a noted failure.
#include "streams/mapped_stream.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "common/log.h"

#include "streams/file_stream.h"

namespace tracemill {
namespace {

// The mapping this thread reads, for the SIGBUS handler.
struct ThreadMapping {
    uintptr_t begin = 0;
    uintptr_t end = 0;
    int descriptor = -1;
    uint64_t size = 0;
    volatile sig_atomic_t failed = 0;
    bool truncated = false;
};
thread_local ThreadMapping t_mapping;

void on_bus_error(int signal, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    ThreadMapping& mapping = t_mapping;
    if (address >= mapping.begin && address < mapping.end) {
        const auto page_size = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        const uintptr_t page = address & ~(page_size - 1);
        // Zeros from the failing page to the end: nothing there can be trusted.
        void* zeros = ::mmap(reinterpret_cast<void*>(page), mapping.end - page, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            mapping.failed = 1;
            return;  // the access is made again, on zeros
        }
    }
    // Not ours: the default action ends the process when the access repeats.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signal, &fallback, nullptr);
}

void install_bus_error_handler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = on_bus_error;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
    });
}

// A file cut short under its mapping may never raise SIGBUS: the reader can
// stop at the zeros that follow its new end inside the last page.
void note_if_cut_short(ThreadMapping& mapping) {
    struct stat st;
    if (mapping.descriptor >= 0 && ::fstat(mapping.descriptor, &st) == 0 &&
        static_cast<uint64_t>(st.st_size) < mapping.size) {
        mapping.failed = 1;
        mapping.truncated = true;
    }
}

}  // namespace

bool take_mapped_input_failure() {
    ThreadMapping& mapping = t_mapping;
    note_if_cut_short(mapping);
    if (!mapping.failed) return false;
    mapping.failed = 0;
    if (mapping.truncated)
        TM_LOG(kError, "Could not read file: it was cut short while being read");
    else
        TM_LOG(kError, "Could not read file: %s", std::strerror(EIO));
    mapping.truncated = false;
    mapping.descriptor = -1;  // taken once
    return true;
}

StreamPtr MappedStream::map(StreamPtr& file) {
    auto* source = dynamic_cast<FileReadStream*>(file.get());
    if (!source) return nullptr;
    const int64_t size = source->data_end() >= 0 ? source->data_end() : stream_size(source);
    if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX) return nullptr;
    const auto length = static_cast<size_t>(size);
    void* area = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, source->descriptor(), 0);
    if (area == MAP_FAILED) return nullptr;
    install_bus_error_handler();
    // Records are taken front to back from a few places at once: read-ahead
    // pays on each of them.
    ::madvise(area, length, MADV_SEQUENTIAL);
    auto* stream = new (std::nothrow) MappedStream(nullptr, static_cast<const uint8_t*>(area), length);
    if (!stream) {
        ::munmap(area, length);
        return nullptr;
    }
    stream->file_ = std::move(file);
    t_mapping.begin = reinterpret_cast<uintptr_t>(area);
    t_mapping.end = t_mapping.begin + length;
    t_mapping.descriptor = source->descriptor();
    t_mapping.size = length;
    t_mapping.failed = 0;
    t_mapping.truncated = false;
    return StreamPtr(stream);
}

void MappedStream::unmap() {
    ThreadMapping& mapping = t_mapping;
    if (bytes_ && mapping.begin == reinterpret_cast<uintptr_t>(bytes_)) {
        // A failure is taken after the stream is gone: whether the file was
        // cut short is asked while it is still open.
        note_if_cut_short(mapping);
        mapping.begin = mapping.end = 0;
        mapping.descriptor = -1;
    }
    if (bytes_) ::munmap(const_cast<uint8_t*>(bytes_), static_cast<size_t>(size_));
    bytes_ = nullptr;
    size_ = position_ = 0;
}

}  // namespace tracemill
