// Each way out of the window's program ends the process with its status and no sanitizer
// report: the threads are stopped and joined, then everything is destroyed in order.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "temp_dir.h"

extern char** environ;

namespace {

struct ending {
    int status = -1;  // exit status, or -1 when it did not exit by itself in time
    std::string errors;
};

ending run_exit_app(const std::string& way)
{
    ovtest::temp_dir dir;
    const std::string err_file = dir.path() + "/stderr";
    const std::string sim = dir.path() + "/sim";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::string program = OVRAID_EXIT_APP;
    char* argv[] = {program.data(), const_cast<char*>(way.c_str()), const_cast<char*>(sim.c_str()), nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_STATE_HOME", dir.path().c_str(), 1);
    pid_t pid = 0;
    ending result;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) != 0) {
        result.errors = "could not start " + program;
        return result;
    }
    posix_spawn_file_actions_destroy(&actions);
    int raw = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (waitpid(pid, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            result.errors = "did not end within two minutes\n";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (result.errors.empty() && WIFEXITED(raw))
        result.status = WEXITSTATUS(raw);
    std::ifstream in(err_file);
    std::stringstream text;
    text << in.rdbuf();
    result.errors += text.str();
    return result;
}

struct way_out {
    const char* way;
    int status;
    const char* says = nullptr;  // on standard error
};

class exit_paths : public ::testing::TestWithParam<way_out> {};

TEST_P(exit_paths, ends_with_its_status_and_no_sanitizer_report)
{
    const ending e = run_exit_app(GetParam().way);
    EXPECT_EQ(e.status, GetParam().status) << e.errors;
    EXPECT_EQ(e.errors.find("Sanitizer"), std::string::npos) << e.errors;
    EXPECT_EQ(e.errors.find("runtime error"), std::string::npos) << e.errors;
    if (GetParam().says != nullptr) {
        EXPECT_NE(e.errors.find(GetParam().says), std::string::npos) << e.errors;
    }
}

INSTANTIATE_TEST_SUITE_P(ways, exit_paths,
                         ::testing::Values(way_out{"close", 0}, way_out{"menu", 0}, way_out{"fatal", 3},
                                           way_out{"library", 3, "sim.so: not a shared library (not an ELF file)"},
                                           way_out{"stuck", 0, "a device call does not return"}),
                         [](const auto& info) { return std::string(info.param.way); });

}  // namespace
