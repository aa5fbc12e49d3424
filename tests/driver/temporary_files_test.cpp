// An interrupt that arrives while other threads keep creating temporary files
// still removes every one of them before the run ends by the signal.
#include "driver/temporary_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "driver_test_support.h"

namespace tracemill {
namespace {

// Creates, closes and removes temporaries in a loop until the process dies.
[[noreturn]] void churn(int folder_fd, int thread) {
    for (unsigned n = 0;; ++n) {
        const std::string name = ".churn-" + std::to_string(thread) + "-" + std::to_string(n) + ".tmp";
        int slot = -1;
        const int fd = open_remembered_temporary(folder_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600, &slot);
        if (fd >= 0) close(fd);
        unlinkat(folder_fd, name.c_str(), 0);
        forget_temporary(slot);
    }
}

TEST(TemporaryFiles, InterruptDuringCreationsOnOtherThreadsLeavesNone) {
    for (int signal_number : {SIGINT, SIGTERM})
        for (int round = 0; round < 10; ++round) {
            driver_test::TempFolder folder;
            const pid_t child = fork();
            if (child == 0) {
                remove_temporaries_on_interrupt();
                const int folder_fd = open(folder.path().c_str(), O_RDONLY | O_DIRECTORY);
                std::vector<std::thread> threads;
                for (int t = 0; t < 4; ++t) threads.emplace_back(churn, folder_fd, t);
                for (std::thread& thread : threads) thread.join();
                _exit(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            kill(child, signal_number);
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round;
            EXPECT_EQ(WTERMSIG(status), signal_number);
            EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << strsignal(signal_number) << ", round " << round;
        }
}

}  // namespace
}  // namespace tracemill
