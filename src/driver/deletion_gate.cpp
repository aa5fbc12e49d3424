// Removal of a converted input under -d, or the warning that says why it stays.
#include "driver/deletion_gate.h"

#include "common/log.h"
#include "common/log_escape.h"

namespace tracemill {

bool DeletionGate::remove_input(FileSystemRoot& root, std::string_view input_path, const InputIdentity& identity) {
    if (reasons_.empty()) {
        const InputRemoval removal = root.remove_input(input_path, identity);
        if (removal.outcome == RemovalOutcome::Removed) return true;
        if (removal.outcome == RemovalOutcome::Failed) {
            TM_LOG(kError, "Could not remove input file after conversion: %s", escape_file_name(input_path).c_str());
            keep("it could not be removed");
            return false;
        }
        keep(removal.kept_because != nullptr ? removal.kept_because : "it could not be checked");
    }
    std::string all;
    for (const std::string& reason : reasons_) {
        if (!all.empty()) all += "; ";
        all += reason;
    }
    TM_LOG(kWarn, "Keeping input file %s: %s", escape_file_name(input_path).c_str(), all.c_str());
    return false;
}

}  // namespace tracemill
