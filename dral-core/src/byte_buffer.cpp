#include "byte_buffer.hpp"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace dral_core {

void ByteBuffer::release_pages(std::size_t offset, std::size_t length) {
#if defined(__unix__) || defined(__APPLE__)
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    auto start = reinterpret_cast<std::uintptr_t>(data_ + offset);
    auto end = start + length;
    start = (start + page - 1) & ~(page - 1);
    end &= ~(page - 1);
    // Advice only: a refusal leaves the pages as they were, which is harmless.
    if (start < end) madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
#else
    (void)offset;
    (void)length;
#endif
}

}  // namespace dral_core
