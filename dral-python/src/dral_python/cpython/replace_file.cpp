#include "dral_python/cpython/replace_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>
#include <utility>

#include "dral_core/base/limits.hpp"

namespace dral_python {
namespace {

// How much of a file written a piece at a time may wait for the disk, in the page cache.
constexpr off_t kCachedBehind = off_t{64} << 20;

// `path` with symbolic links in its last part followed (those in the folders are followed by the
// system calls), ending at the file the link names, which need not exist yet.
std::string without_links(std::string path) {
    for (int links = 0; links < dral_core::kMaxLinksFollowed; ++links) {
        struct stat status;
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        // A link that changed between the two calls is left to the system calls to follow.
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(length));
        const std::size_t slash = path.rfind('/');
        path = target.starts_with('/') || slash == std::string::npos
                   ? target
                   : path.substr(0, slash + 1) + target;
    }
    return path;
}

int write_all(int fd, std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const ssize_t written =
            ::write(fd, data.data(), std::min<std::size_t>(data.size(), 1 << 30));
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        if (written == 0) return EIO;
        data = data.subspan(static_cast<std::size_t>(written));
    }
    return 0;
}

// A name for a temporary file beside `path`, hidden and telling whose it is. Not secret: it is
// created exclusively, and another one is tried when it exists.
std::string temporary_name(const std::string& path, std::size_t name_start) {
    static std::atomic<unsigned> counter{0};
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long long tag = (static_cast<unsigned long long>(::getpid()) << 32) ^
                                   static_cast<unsigned long long>(now.tv_nsec) ^
                                   (counter.fetch_add(1) * 0x9E3779B9ull);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%012llx.tmp", tag & 0xFFFFFFFFFFFFull);
    return path.substr(0, name_start) + "." +
           path.substr(name_start, std::min(path.size() - name_start, dral_core::kMaxNameStem)) +
           suffix;
}

}  // namespace

int ReplacingFile::open(const std::string& path) {
    owner_ = ::getpid();
    written_ = writeback_start_ = uncached_end_ = 0;
    try {
        const std::string target = without_links(path);
        const std::size_t slash = target.rfind('/');
        const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
        struct stat status;
        const mode_t* keep_mode = nullptr;
        mode_t mode = 0;
        if (::stat(target.c_str(), &status) != 0) {
            if (errno != ENOENT) return errno;
            // "name/" for a file that does not exist: a folder is meant, and there is none.
            if (name_start == target.size()) return EISDIR;
        } else {
            if (S_ISDIR(status.st_mode)) return EISDIR;
            if (!S_ISREG(status.st_mode)) {
                fd_ = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                return fd_ < 0 ? errno : 0;  // a device or a pipe is written in place
            }
            if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return errno;
            mode = status.st_mode & 0777;
            keep_mode = &mode;
        }
        for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
            temporary_ = temporary_name(target, name_start);
            // The mode a new file gets, the umask and any default ACL applied.
            fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) return errno;
        }
        if (fd_ < 0) return EEXIST;
        target_ = target;
        if (keep_mode != nullptr && ::fchmod(fd_, *keep_mode) != 0) {
            const int error = errno;
            abandon();
            return error;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int ReplacingFile::write(std::span<const std::uint8_t> data) {
    const int error = ::getpid() == owner_ ? write_all(fd_, data) : EBADF;
    if (error != 0)
        abandon();
    else
        written_ += static_cast<off_t>(data.size());
    return error;
}

void ReplacingFile::write_back() {
#if defined(SYNC_FILE_RANGE_WRITE)
    if (temporary_.empty() || ::getpid() != owner_) return;
    if (written_ > writeback_start_) {
        (void)::sync_file_range(fd_, writeback_start_, written_ - writeback_start_,
                                SYNC_FILE_RANGE_WRITE);
        writeback_start_ = written_;
    }
    // What is on disk leaves the page cache: a stream of many gigabytes would otherwise fill it,
    // evicting what other programs use, and the copy into ever new pages cost the writer up to
    // half its speed. Whole megabytes, so that no page straddles two calls and stays.
    const off_t cached_from = (written_ - kCachedBehind) & ~((off_t{1} << 20) - 1);
    if (cached_from > uncached_end_) {
        const off_t length = cached_from - uncached_end_;
        (void)::sync_file_range(
            fd_, uncached_end_, length,
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        (void)::posix_fadvise(fd_, uncached_end_, length, POSIX_FADV_DONTNEED);
        uncached_end_ = cached_from;
    }
#endif
}

int ReplacingFile::commit() {
    if (::getpid() != owner_) {
        abandon();
        return EBADF;
    }
    // On disk before it takes the name: a crash soon after must not leave an empty file there.
    int error = !temporary_.empty() && ::fsync(fd_) != 0 ? errno : 0;
    if (::close(std::exchange(fd_, -1)) != 0 && error == 0) error = errno;
    if (error == 0 && !temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0)
        error = errno;
    if (error != 0 && !temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    return error;
}

void ReplacingFile::abandon() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!temporary_.empty() && ::getpid() == owner_) ::unlink(temporary_.c_str());
    temporary_.clear();
}

int replace_file(const std::string& path, std::span<const std::uint8_t> data) {
    ReplacingFile file;
    if (const int error = file.open(path)) return error;
    if (const int error = file.write(data)) return error;
    return file.commit();
}

}  // namespace dral_python
