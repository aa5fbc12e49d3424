// A fresh folder under /tmp (Windows: the user's temporary folder, with "/"
// separators) for one test, removed with everything in it.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace tracemill {

class TempDir {
public:
#ifdef _WIN32
    TempDir() {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate = base / ("tracemill_test_" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, error)) {
                const std::u8string text = candidate.generic_u8string();
                path_.assign(text.begin(), text.end());
            }
        }
    }
#else
    TempDir() {
        char pattern[] = "/tmp/tracemill_test_XXXXXX";
        if (::mkdtemp(pattern) != nullptr) path_ = pattern;
        ::chmod(path_.c_str(), 0755);  // reachable by an unprivileged child process
    }
#endif
    ~TempDir() {
        // Tests may leave read-only folders behind; open them up before removing.
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::permissions(path_, std::filesystem::perms::all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace tracemill
