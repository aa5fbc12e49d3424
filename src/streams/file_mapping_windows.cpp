// Mapping a plain input file read-only on Windows, and the handler that turns
// a page the system cannot bring in (EXCEPTION_IN_PAGE_ERROR: a failing
// device, a network share gone) into zeros and a noted failure. A view can
// only be given back whole, so the whole view becomes zeros; the reader goes
// on over them and the file's failure is taken afterwards. Windows refuses
// to cut short a file while a view of it exists, but a file server need not
// ask: the file's size is checked again when its failure is taken.
#include "streams/mapped_stream.h"

#include <windows.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "common/log.h"
#include "streams/file_stream.h"

namespace tracemill {
namespace {

// The view this thread reads, for the exception handler.
struct ThreadMapping {
    uintptr_t begin = 0;
    uintptr_t end = 0;
    HANDLE file = INVALID_HANDLE_VALUE;  // while its stream is open
    bool failed = false;
    bool zeroed = false;  // the view was replaced by zero pages
    bool truncated = false;
};
thread_local ThreadMapping t_mapping;

LONG CALLBACK on_in_page_error(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const auto address = static_cast<uintptr_t>(record->ExceptionInformation[1]);
    ThreadMapping& mapping = t_mapping;
    if (mapping.zeroed || address < mapping.begin || address >= mapping.end) return EXCEPTION_CONTINUE_SEARCH;
    void* view = reinterpret_cast<void*>(mapping.begin);
    // Not ours to mend when either step fails: the process ends as it would have.
    if (!UnmapViewOfFile(view)) return EXCEPTION_CONTINUE_SEARCH;
    if (VirtualAlloc(view, mapping.end - mapping.begin, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY) != view)
        return EXCEPTION_CONTINUE_SEARCH;
    mapping.zeroed = true;
    mapping.failed = true;
    return EXCEPTION_CONTINUE_EXECUTION;  // the access is made again, on zeros
}

void install_in_page_error_handler() {
    static std::once_flag once;
    std::call_once(once, [] { AddVectoredExceptionHandler(1, on_in_page_error); });
}

// A file cut short under its view: the reader can stop at zeros before the old end.
void note_if_cut_short(ThreadMapping& mapping) {
    LARGE_INTEGER size;
    if (mapping.file != INVALID_HANDLE_VALUE && GetFileSizeEx(mapping.file, &size) &&
        static_cast<uint64_t>(size.QuadPart) < mapping.end - mapping.begin) {
        mapping.failed = true;
        mapping.truncated = true;
    }
}

}  // namespace

bool take_mapped_input_failure() {
    ThreadMapping& mapping = t_mapping;
    note_if_cut_short(mapping);
    if (!mapping.failed) return false;
    mapping.failed = false;
    if (mapping.truncated)
        TM_LOG(kError, "Could not read file: it was cut short while being read");
    else
        TM_LOG(kError, "Could not read file: %s", std::strerror(EIO));
    mapping.truncated = false;
    mapping.file = INVALID_HANDLE_VALUE;  // taken once
    return true;
}

StreamPtr MappedStream::map(StreamPtr& file) {
    auto* source = dynamic_cast<FileReadStream*>(file.get());
    if (!source) return nullptr;
    const int64_t size = source->data_end() >= 0 ? source->data_end() : stream_size(source);
    if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX) return nullptr;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(source->descriptor()));
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const auto length = static_cast<uint64_t>(size);
    const HANDLE section = CreateFileMappingW(handle, nullptr, PAGE_READONLY, static_cast<DWORD>(length >> 32),
                                              static_cast<DWORD>(length), nullptr);
    if (section == nullptr) return nullptr;
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(length));
    CloseHandle(section);  // the view keeps it
    if (view == nullptr) return nullptr;
    install_in_page_error_handler();
    auto* stream = new (std::nothrow) MappedStream(nullptr, static_cast<const uint8_t*>(view), length);
    if (!stream) {
        UnmapViewOfFile(view);
        return nullptr;
    }
    stream->file_ = std::move(file);
    t_mapping = ThreadMapping{reinterpret_cast<uintptr_t>(view), reinterpret_cast<uintptr_t>(view) + length, handle};
    return StreamPtr(stream);
}

void MappedStream::unmap() {
    ThreadMapping& mapping = t_mapping;
    bool zeroed = false;
    if (bytes_ && mapping.begin == reinterpret_cast<uintptr_t>(bytes_)) {
        // A failure is taken after the stream is gone: whether the file was
        // cut short is asked while it is still open.
        note_if_cut_short(mapping);
        zeroed = mapping.zeroed;
        mapping.begin = mapping.end = 0;
        mapping.file = INVALID_HANDLE_VALUE;
        mapping.zeroed = false;
    }
    if (bytes_) {
        void* view = const_cast<uint8_t*>(bytes_);
        if (zeroed) VirtualFree(view, 0, MEM_RELEASE);
        else UnmapViewOfFile(view);
    }
    bytes_ = nullptr;
    size_ = position_ = 0;
}

}  // namespace tracemill
