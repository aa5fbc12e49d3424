// The parts of an output folder path, as both local output trees enter them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tracemill {

struct FolderPart {
    std::string name;    // the folder to enter next
    std::string so_far;  // the path up to and including it, for messages
};

// The parts of `folder` (relative to the output root, '/'-separated), empty
// and "." parts left out. False (logged when `report`) when a part is "..":
// such a folder leaves the output tree.
bool output_folder_parts(std::string_view folder, bool report, std::vector<FolderPart>& parts);

}  // namespace tracemill
