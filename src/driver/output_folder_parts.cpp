#include "driver/output_folder_parts.h"

#include "common/log.h"
#include "common/log_escape.h"

namespace tracemill {

bool output_folder_parts(std::string_view folder, bool report, std::vector<FolderPart>& parts) {
    parts.clear();
    size_t start = 0;
    while (start < folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string_view::npos) end = folder.size();
        const std::string_view part = folder.substr(start, end - start);
        const std::string_view so_far = folder.substr(0, end);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (report)
                TM_LOG(kError, "Output folder %s leaves the output tree", escape_file_name(so_far).c_str());
            return false;
        }
        parts.push_back({std::string(part), std::string(so_far)});
    }
    return true;
}

}  // namespace tracemill
