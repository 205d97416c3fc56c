#include "failures.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <sstream>

#include "conf.h"
#include "posix_io.h"

namespace ov::sim {

namespace {

bool parse_failure_line(const std::string& path, int number, const std::string& line, failure_desc& f,
                        std::string& error)
{
    std::istringstream in(line);
    std::string token;
    f = failure_desc{};
    while (in >> token) {
        const size_t eq = token.find('=');
        const std::string key = eq == std::string::npos ? std::string() : token.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : token.substr(eq + 1);
        int64_t n = 0;
        if (key == "call")
            f.call = value;
        else if (key == "mode")
            f.mode = value;
        else if (key == "port" && parse_i64(value, n) && n >= -1 && n <= 1)
            f.port = static_cast<int>(n);
        else if (key == "skip" && parse_i64(value, n) && n >= 0 && n <= INT32_MAX)
            f.skip = static_cast<int>(n);
        else {
            error = path + ":" + std::to_string(number) + ": cannot read '" + escaped(token) + "'";
            return false;
        }
    }
    const auto& calls = failure_calls();
    if (std::find(calls.begin(), calls.end(), f.call) == calls.end()) {
        error = path + ":" + std::to_string(number) + ": unknown call '" + escaped(f.call) + "'";
        return false;
    }
    if (f.mode != "once" && f.mode != "always" && f.mode != "mismatch" && f.mode != "vanish") {
        error = path + ":" + std::to_string(number) + ": unknown mode '" + escaped(f.mode) + "'";
        return false;
    }
    return true;
}

std::string format_failure(const failure_desc& f)
{
    return "call=" + f.call + " mode=" + f.mode + " port=" + std::to_string(f.port) + " skip=" +
           std::to_string(f.skip) + "\n";
}

// The file is rewritten in place under flock, so its inode (and the lock) stay.
class locked_file {
public:
    locked_file(const std::string& path, bool create)
        : path_(path), fd_(io::open_fd(path, O_RDWR | O_NONBLOCK | (create ? O_CREAT : 0), 0644))
    {
        open_errno_ = fd_ ? 0 : errno;
        // A FIFO or device put in its place would hang the reader or never end.
        struct stat st;
        if (fd_ && (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
            fd_.reset();
            open_errno_ = 0;
            irregular_ = true;
        }
        if (fd_)
            while (::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    // False with error set when the file could not be opened.
    bool opened(std::string& error) const
    {
        if (irregular_)
            error = path_ + ": not a regular file";
        else if (!fd_)
            error = io::errno_text(path_, open_errno_);
        return static_cast<bool>(fd_);
    }
    int open_errno() const { return open_errno_; }
    bool read(std::vector<failure_desc>& failures, std::string& error)
    {
        std::string text;
        if (!io::read_all(fd_.get(), text, max_bytes)) {
            error = errno == EFBIG ? path_ + ": more than " + std::to_string(max_bytes) + " bytes, too large"
                                   : io::errno_text(path_, errno);
            return false;
        }
        return parse_failures(path_, text, failures, error);
    }
    bool replace(const std::string& text, std::string& error)
    {
        if (::ftruncate(fd_.get(), 0) != 0 || !io::pwrite_all(fd_.get(), text.data(), text.size(), 0)) {
            error = io::errno_text(path_, errno);
            return false;
        }
        return true;
    }

private:
    static constexpr size_t max_bytes = 1u << 20;
    std::string path_;
    io::unique_fd fd_;
    int open_errno_ = 0;
    bool irregular_ = false;
};

}  // namespace

const std::vector<std::string>& failure_calls()
{
    static const std::vector<std::string> names = {
        "getDeviceList",   "openConnection",    "closeConnection",   "ovGetRaidInfo",
        "ovGetRaidInfoFW", "ovSetRaidInfo",     "ovSetRaidInfoFW",   "ovFlushHDDCache",
        "ovGetDiskIdentify", "ovGetRegister",   "ovGetRebuildStatus", "ovWarmBoot"};
    return names;
}

bool parse_failures(const std::string& path, const std::string& text, std::vector<failure_desc>& out,
                    std::string& error)
{
    out.clear();
    return for_each_line(text, [&](int number, const std::string& t) {
        failure_desc f;
        if (!parse_failure_line(path, number, t, f, error))
            return false;
        out.push_back(f);
        return true;
    });
}

std::string format_failures(const std::vector<failure_desc>& failures)
{
    std::string text = "# injected failures, one per line, judged in order\n";
    for (const auto& f : failures)
        text += format_failure(f);
    return text;
}

bool valid_failure(const failure_desc& failure, std::string& error)
{
    failure_desc check;
    return parse_failure_line("failure", 1, trimmed(format_failure(failure)), check, error);
}

std::string judge_call(std::vector<failure_desc>& list, const std::string& call, int port, bool& changed)
{
    std::string fired;
    changed = false;
    for (auto it = list.begin(); it != list.end();) {
        const bool matches = it->call == call && (it->port == -1 || it->port == port);
        if (!matches) {
            ++it;
            continue;
        }
        if (it->skip > 0) {
            --it->skip;
            changed = true;
            ++it;
        } else if (fired.empty()) {
            fired = it->mode;
            if (it->mode != "always") {
                it = list.erase(it);
                changed = true;
            } else {
                ++it;
            }
        } else {
            ++it;
        }
    }
    return fired;
}

bool read_failures_file(const std::string& path, std::vector<failure_desc>& failures, std::string& error)
{
    failures.clear();
    if (!io::path_exists(path))
        return true;
    locked_file f(path, false);
    return f.opened(error) && f.read(failures, error);
}

bool add_failure_to_file(const std::string& path, const failure_desc& failure, std::string& error)
{
    if (!valid_failure(failure, error))
        return false;
    locked_file f(path, true);
    std::vector<failure_desc> list;
    if (!f.opened(error) || !f.read(list, error))
        return false;
    list.push_back(failure);
    return f.replace(format_failures(list), error);
}

bool clear_failures_file(const std::string& path, std::string& error)
{
    if (!io::path_exists(path))
        return true;
    locked_file f(path, false);
    return f.opened(error) && f.replace(std::string(), error);
}

std::string take_failure_from_file(const std::string& path, const std::string& call, int port, std::string& error)
{
    error.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0))
        return std::string();  // the common case costs one stat
    locked_file f(path, false);
    std::vector<failure_desc> list;
    if (!f.opened(error)) {
        if (f.open_errno() == ENOENT)
            error.clear();
        return std::string();
    }
    if (!f.read(list, error))
        return std::string();
    bool changed = false;
    const std::string fired = judge_call(list, call, port, changed);
    if (changed && !f.replace(format_failures(list), error))
        return std::string();
    return fired;
}

}  // namespace ov::sim
