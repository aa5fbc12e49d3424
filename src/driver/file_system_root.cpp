// Path joining shared by every kind of root.
#include "driver/file_system_root.h"

namespace tracemill {

std::string FileSystemRoot::full_path(std::string_view relative) const {
    std::string full = root_;
    if (!full.empty() && !relative.empty()) full += '/';
    full.append(relative);
    return full;
}

}  // namespace tracemill
