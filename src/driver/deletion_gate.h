// The last step of -d: a converted input is removed only when no rule found a
// reason to keep it, and only while its name still leads to the very file that
// was converted. A kept input is named in a warning with every reason; the
// file's result code never changes, whatever happens here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "driver/file_system_root.h"

namespace tracemill {

class DeletionGate {
public:
    // Adds a reason to keep the input. It completes "Keeping input file %s: %s",
    // so it reads like "it holds 3 LIN frames the trace format passes over".
    void keep(std::string reason) { reasons_.push_back(std::move(reason)); }
    const std::vector<std::string>& reasons() const { return reasons_; }

    // Removes the input through `root` when no reason was added and the root
    // finds none either (see FileSystemRoot::remove_input); logs what kept it.
    // True when the input was removed; otherwise reasons() says why not.
    bool remove_input(FileSystemRoot& root, std::string_view input_path, const InputIdentity& identity);

private:
    std::vector<std::string> reasons_;
};

}  // namespace tracemill
