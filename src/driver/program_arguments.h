// The command line as UTF-8 text, the form every path takes inside the
// converter, whatever form the system hands to main.
#pragma once

#include <string>
#include <vector>

namespace tracemill {

class ProgramArguments {
public:
    ProgramArguments(int argc, char** argv);
    int count() const { return static_cast<int>(pointers_.size()) - 1; }
    // count() texts and a final null, as main's argv.
    char** values() { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

}  // namespace tracemill
