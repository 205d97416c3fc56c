// The command line's costs, measured on the demo enclosures in a fresh simulation:
//   1. `ovraidctl status --json`: wall time beyond the system's own fixed pauses (a scan
//      waits 2 s per bridge between the two presence registers), target <= 50 ms;
//   2. `ovraidctl monitor` watching the idle mirror: CPU share of one core (target
//      <= 0.05 %) and resident memory (target <= 10 MB).
// Run by hand: build/bench/bench_cli [MONITOR_SECONDS]
#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

const std::string ctl = OVRAIDCTL;
const std::string sim = OVRAID_SIM_TOOL;

pid_t spawn(const std::vector<std::string>& args, bool quiet)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int run(const std::vector<std::string>& args)
{
    const pid_t pid = spawn(args, true);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// utime + stime of a process in seconds, and its resident memory in MB.
bool usage(pid_t pid, double& cpu, double& rss_mb)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    long utime = 0, stime = 0;
    fields >> utime >> stime;
    cpu = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            rss_mb = std::atof(line.c_str() + 6) / 1024.0;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int monitor_seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    char dir[] = "/tmp/ovraid-bench-cli-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string root = std::string(dir) + "/sim";
    if (run({sim, "--sim", root, "demo"}) != 0) {
        std::fprintf(stderr, "cannot make the demo\n");
        return 1;
    }
    // Pauses 100 times shorter: 2 bridges x 2 s become 40 ms.
    constexpr double scale = 100;
    setenv("OVRAID_TIME_SCALE", "100", 1);
    const double pauses_ms = 2 * 2000 / scale;
    const int runs = 20;
    double best = 1e9, total = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (run({ctl, "--sim", root, "status", "--json"}) != 0) {
            std::fprintf(stderr, "status did not report a healthy demo\n");
            return 1;
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ms - pauses_ms);
        total += ms - pauses_ms;
    }
    std::fprintf(stderr, "status --json beyond the fixed pauses: %.1f ms on average, %.1f ms at best (%d runs)\n",
                 total / runs, best, runs);

    // The monitor at the real pace of time.
    unsetenv("OVRAID_TIME_SCALE");
    const pid_t monitor = spawn({ctl, "--sim", root, "monitor", "--no-syslog", "--no-notify"}, true);
    if (monitor < 0)
        return 1;
    sleep(10);   // past its start: the first scan and its first looks
    double cpu0 = 0, cpu1 = 0, rss = 0;
    usage(monitor, cpu0, rss);
    sleep(static_cast<unsigned>(monitor_seconds));
    usage(monitor, cpu1, rss);
    kill(monitor, SIGTERM);
    int status = 0;
    waitpid(monitor, &status, 0);
    std::fprintf(stderr, "monitor on an idle mirror: %.3f %% of one core over %d s, %.1f MB resident\n",
                 (cpu1 - cpu0) * 100.0 / monitor_seconds, monitor_seconds, rss);
    run({"/bin/rm", "-rf", dir});
    return 0;
}
