#include "cpython/replace_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>

#include "base/limits.hpp"

namespace dral_python {
namespace {

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

int write_in_place(const std::string& path, std::span<const std::uint8_t> data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = write_all(fd, data);
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
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

int replace_regular_file(const std::string& target, std::size_t name_start, const mode_t* keep_mode,
                         std::span<const std::uint8_t> data) {
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = temporary_name(target, name_start);
        // The mode a new file gets, the umask and any default ACL applied.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    int error = keep_mode != nullptr && ::fchmod(fd, *keep_mode) != 0 ? errno : 0;
    if (error == 0) error = write_all(fd, data);
    // On disk before it takes the name: a crash soon after must not leave an empty file there.
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(temporary.c_str());
    return error;
}

}  // namespace

int replace_file(const std::string& path, std::span<const std::uint8_t> data) {
    try {
        const std::string target = without_links(path);
        const std::size_t slash = target.rfind('/');
        const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
        struct stat status;
        if (::stat(target.c_str(), &status) != 0) {
            if (errno != ENOENT) return errno;
            // "name/" for a file that does not exist: a folder is meant, and there is none.
            if (name_start == target.size()) return EISDIR;
            return replace_regular_file(target, name_start, nullptr, data);
        }
        if (S_ISDIR(status.st_mode)) return EISDIR;
        if (!S_ISREG(status.st_mode)) return write_in_place(target, data);
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return errno;
        const mode_t mode = status.st_mode & 0777;
        return replace_regular_file(target, name_start, &mode, data);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

}  // namespace dral_python
