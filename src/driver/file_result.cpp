// Names of what became of a file.
#include "driver/file_result.h"

namespace tracemill {

const char* file_status_name(FileStatus status) {
    switch (status) {
        case FileStatus::Converted: return "converted";
        case FileStatus::Failed: return "failed";
        case FileStatus::Repeated: return "repeated";
        case FileStatus::PassedOver: return "passed over";
    }
    return "?";
}

}  // namespace tracemill
