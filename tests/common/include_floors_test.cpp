// The source tree's floors: a file may include headers of its own folder and
// of the floors below it, never of a floor above. Adding a folder to src/
// means giving it a floor here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Folder (first path part under src/) → floor; output formats share the top floor.
const std::map<std::string, int> kFloors = {
    {"common", 0}, {"text", 1}, {"streams", 1}, {"mdf", 2}, {"driver", 3},
    {"trc", 4},    {"asc", 4},  {"blf", 4},     {"log", 4}, {"csv", 4},
};
constexpr int kTopFloor = 5;  // files directly in src/: the entry point and its wiring

int floor_of(const std::string& relative) {
    const auto slash = relative.find('/');
    if (slash == std::string::npos) return kTopFloor;
    const auto it = kFloors.find(relative.substr(0, slash));
    return it == kFloors.end() ? -1 : it->second;
}

std::string folder_of(const std::string& relative) { return relative.substr(0, relative.find('/')); }

TEST(IncludeFloors, NoArrowPointsUp) {
    const fs::path src = fs::path(__FILE__).parent_path().parent_path().parent_path() / "src";
    ASSERT_TRUE(fs::is_directory(src)) << src;
    const std::regex include_line(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::vector<std::string> violations;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file()) continue;
        const std::string from = fs::relative(entry.path(), src).generic_string();
        const int from_floor = floor_of(from);
        if (from_floor < 0) {
            violations.push_back(from + ": folder has no floor");
            continue;
        }
        ++files;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            std::smatch m;
            if (!std::regex_search(line, m, include_line)) continue;
            const std::string to = m[1];
            if (to.find('/') == std::string::npos) continue;  // generated headers beside the build
            const int to_floor = floor_of(to);
            const bool same_folder = folder_of(to) == folder_of(from) && to.find('/') != std::string::npos;
            if (to_floor < 0 || (!same_folder && to_floor >= from_floor))
                violations.push_back(from + " includes " + to);
        }
    }
    EXPECT_GT(files, 50);
    EXPECT_TRUE(violations.empty()) << ::testing::PrintToString(violations);
}

}  // namespace
