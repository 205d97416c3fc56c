#include "posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace ov::io {

namespace {

// The one loop behind every whole transfer: step moves at most left bytes at done and
// returns what read(2) or write(2) would.
template <typename Step>
bool transfer(size_t n, Step step)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t r = step(done, n - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            if (r == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

void unique_fd::reset(int fd)
{
    if (fd_ >= 0 && fd_ != fd) {
        const int saved = errno;
        ::close(fd_);
        errno = saved;
    }
    fd_ = fd;
}

unique_fd open_fd(const std::string& path, int flags, mode_t mode)
{
    return unique_fd(::open(path.c_str(), flags | O_CLOEXEC, mode));
}

bool write_all(int fd, const void* data, size_t n)
{
    const auto* p = static_cast<const char*>(data);
    return transfer(n, [&](size_t done, size_t left) { return ::write(fd, p + done, left); });
}

bool pwrite_all(int fd, const void* data, size_t n, off_t offset)
{
    const auto* p = static_cast<const char*>(data);
    return transfer(n, [&](size_t done, size_t left) {
        return ::pwrite(fd, p + done, left, offset + static_cast<off_t>(done));
    });
}

bool pread_all(int fd, void* data, size_t n, off_t offset)
{
    auto* p = static_cast<char*>(data);
    return transfer(n, [&](size_t done, size_t left) {
        return ::pread(fd, p + done, left, offset + static_cast<off_t>(done));
    });
}

bool read_all(int fd, std::string& out, size_t limit)
{
    char buf[4096];
    size_t got = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        got += static_cast<size_t>(n);
        if (got > limit) {
            errno = EFBIG;
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

bool path_exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string errno_text(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

unique_fd open_regular(const std::string& path, int flags, std::string& error, mode_t mode)
{
    // Not blocking: a FIFO in a file's place must not hold the caller for ever.
    unique_fd fd = open_fd(path, flags | O_NONBLOCK, mode);
    if (!fd) {
        error = errno_text(path, errno);
        return {};
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        error = errno_text(path, errno);
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return {};
    }
    return fd;
}

bool read_file(const std::string& path, std::string& text, std::string& error, size_t limit)
{
    text.clear();
    const unique_fd fd = open_regular(path, O_RDONLY, error);
    if (!fd)
        return false;
    if (!read_all(fd.get(), text, limit)) {
        error = errno_text(path, errno);
        return false;
    }
    return true;
}

bool atomic_replace(const std::string& path, std::string_view bytes, std::string& error, mode_t mode, bool durable)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = dir + "." + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
    // A name of its own per writer: two processes replacing one file must not write into
    // each other's temporary (one would truncate what the other is about to rename).
    static std::atomic<unsigned> serial{0};
    std::string tmp;
    unique_fd fd;
    for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
        tmp = base + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
        fd = open_fd(tmp, O_WRONLY | O_CREAT | O_EXCL, mode);
        if (!fd && errno != EEXIST)
            break;
    }
    if (!fd) {
        error = errno_text(tmp, errno);
        return false;
    }
    if (!write_all(fd.get(), bytes.data(), bytes.size()) || (durable && ::fsync(fd.get()) != 0)) {
        error = errno_text(tmp, errno);
        fd.reset();
        ::unlink(tmp.c_str());
        return false;
    }
    fd.reset();
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = errno_text(path, errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace ov::io
