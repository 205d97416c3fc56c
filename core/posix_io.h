// File descriptors and whole transfers over POSIX: a descriptor is closed exactly once by
// its owner, a read or write either moves every byte or says why, and a file replaced
// by name is seen whole, old or new, by every reader.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ov::io {

// Owns one descriptor; move-only, closed on destruction or reset.
class unique_fd {
public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() { reset(); }
    unique_fd(unique_fd&& other) noexcept : fd_(other.release()) {}
    unique_fd& operator=(unique_fd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held (keeping errno) and takes fd.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// open(2) with O_CLOEXEC added; an empty unique_fd with errno set on failure.
unique_fd open_fd(const std::string& path, int flags, mode_t mode = 0644);

// Whole transfers: retried over EINTR and short counts. False with errno set; an end of
// file before n bytes, or a write that stores nothing, is EIO.
bool write_all(int fd, const void* data, size_t n);
bool pwrite_all(int fd, const void* data, size_t n, off_t offset);
bool pread_all(int fd, void* data, size_t n, off_t offset);
// Appends from the descriptor's position to the end of the file; more than limit bytes
// is EFBIG.
bool read_all(int fd, std::string& out, size_t limit = SIZE_MAX);

// Whether anything exists at path (stat(2) succeeds).
bool path_exists(const std::string& path);

// "what: <strerror(err)>".
std::string errno_text(const std::string& what, int err = errno);

// path opened with flags, but only when it is a regular file: never blocking on a FIFO in a
// file's place, a device or a directory is "not a regular file". Errors name the file.
unique_fd open_regular(const std::string& path, int flags, std::string& error, mode_t mode = 0644);

// The whole file at path, which must be a regular file. Errors name the file.
bool read_file(const std::string& path, std::string& text, std::string& error, size_t limit = SIZE_MAX);

// Replaces path with bytes: written to a hidden temporary of its own beside it
// (".name.<pid>-<n>.tmp"), synced, and renamed over it, so a reader in any process sees
// the old file or the new one, never part of either. On failure the temporary is gone and error names the file.
// durable = false skips the sync, for state that is rewritten many times a second.
bool atomic_replace(const std::string& path, std::string_view bytes, std::string& error, mode_t mode = 0644,
                    bool durable = true);

}  // namespace ov::io
