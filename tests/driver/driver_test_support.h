// Helpers for the driver tests: a temporary folder tree, capture of the log
// lines written to standard error, and a scoped change of working folder.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace tracemill::driver_test {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed with everything in it.
class TempFolder {
public:
#ifdef _WIN32
    TempFolder() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate = fs::temp_directory_path() / ("tracemill-driver-" + std::to_string(random()));
            if (fs::create_directory(candidate)) path_ = fs::canonical(candidate);
        }
    }
#else
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "tracemill-driver-XXXXXX").string();
        path_ = fs::canonical(mkdtemp(pattern.data()));
    }
#endif
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    std::string str() const { return path_.generic_string(); }  // "/" between names on every system

    // Writes `content` to a file below the folder, creating the parents.
    fs::path write(const std::string& relative, const std::string& content = "x") const {
        fs::path file = path_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }
    fs::path folder(const std::string& relative) const {
        fs::create_directories(path_ / relative);
        return path_ / relative;
    }

private:
    fs::path path_;
};

// Redirects standard error (where log lines go) into a file until text() is called.
class StderrCapture {
public:
    StderrCapture() {
        fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        file_ = tmpfile();
        dup2(fileno(file_), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); if (file_) fclose(file_); }

    // Everything written since construction; stops the capture.
    std::string text() {
        restore();
        std::string out;
        rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file_)) > 0) out.append(buffer, n);
        return out;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    FILE* file_ = nullptr;
};

// Makes `folder` the working folder for the scope.
class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder) : saved_(fs::current_path()) { fs::current_path(folder); }
    ~WorkingFolder() { fs::current_path(saved_); }

private:
    fs::path saved_;
};

}  // namespace tracemill::driver_test
