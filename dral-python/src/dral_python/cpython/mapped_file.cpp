#include "dral_python/cpython/mapped_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool raise_os_error(PyObject* path) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    return false;
}

}  // namespace

MappedFile::~MappedFile() {
    if (map_ != nullptr) ::munmap(map_, size_);
}

bool MappedFile::open(PyObject* path) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) return false;
    PyRef name(encoded);
    const Descriptor fd(::open(PyBytes_AS_STRING(encoded), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return raise_os_error(path);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return raise_os_error(path);
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return raise_os_error(path);
    }
    if (!S_ISREG(status.st_mode)) return read_all(fd.get(), path);
    size_ = static_cast<std::size_t>(status.st_size);
    if (size_ == 0) return true;  // nothing to map
    void* map = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (map == MAP_FAILED) return raise_os_error(path);
    map_ = map;
    return true;
}

bool MappedFile::read_all(int fd, PyObject* path) {
    constexpr std::size_t kChunk = std::size_t{1} << 16;
    while (true) {
        const std::size_t size = read_.size();
        read_.resize(size + kChunk);
        const ssize_t got = ::read(fd, read_.data() + size, kChunk);
        if (got < 0 && errno == EINTR) {
            read_.resize(size);
            if (PyErr_CheckSignals() < 0) return false;
            continue;
        }
        if (got < 0) return raise_os_error(path);
        read_.resize(size + static_cast<std::size_t>(got));
        if (got == 0) return true;
    }
}

std::span<const std::uint8_t> MappedFile::bytes() const {
    if (map_ == nullptr) return read_;
    return {static_cast<const std::uint8_t*>(map_), size_};
}

void MappedFile::release(std::span<const std::uint8_t> piece) const {
    if (map_ == nullptr || piece.empty()) return;
    // The mapping starts on a page, so rounding down stays inside it.
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(piece.data()) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(piece.data() + piece.size());
    (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

}  // namespace dral_python
