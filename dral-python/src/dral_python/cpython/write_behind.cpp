#include "dral_python/cpython/write_behind.hpp"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace dral_python {

// What the two threads share. In a forked child it is never destroyed: a condition variable
// that the parent's thread waited on would wait for it for good.
struct WriteBehind::Flight {
    std::mutex mutex;
    std::condition_variable changed;
    dral_core::ByteBuffer block;
    bool pending = false;  // `block` is still to be written
    bool stopping = false;
    int error = 0;
    std::thread thread;

    void run(ReplacingFile& file) {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return pending || stopping; });
            if (!pending) return;
            lock.unlock();
            const int failure = file.write(block.span());
            if (failure == 0) file.write_back();
            lock.lock();
            if (error == 0) error = failure;
            pending = false;
            changed.notify_all();
        }
    }
};

WriteBehind::WriteBehind(ReplacingFile& file) : file_(file), owner_(::getpid()) {}

WriteBehind::~WriteBehind() {
    if (!flight_) return;
    if (forked()) {
        (void)flight_.release();
        return;
    }
    if (flight_->thread.joinable()) {
        {
            std::lock_guard lock(flight_->mutex);
            flight_->stopping = true;
        }
        flight_->changed.notify_all();
        flight_->thread.join();
    }
}

int WriteBehind::write(dral_core::ByteBuffer& block) {
    if (forked()) return EBADF;
    if (!flight_) flight_ = std::make_unique<Flight>();
    Flight& flight = *flight_;
    std::unique_lock lock(flight.mutex);
    flight.changed.wait(lock, [&flight] { return !flight.pending; });
    if (flight.error != 0) return flight.error;
    flight.block.clear();
    std::swap(flight.block, block);
    flight.pending = true;
    if (!flight.thread.joinable()) {
        try {
            flight.thread = std::thread([this] { flight_->run(file_); });
        } catch (const std::system_error&) {
            // No thread to be had: the block is written here instead.
            flight.error = file_.write(flight.block.span());
            flight.pending = false;
            return flight.error;
        }
    }
    lock.unlock();
    flight.changed.notify_all();
    return 0;
}

int WriteBehind::wait() {
    if (forked()) return EBADF;
    if (!flight_) return 0;
    std::unique_lock lock(flight_->mutex);
    flight_->changed.wait(lock, [this] { return !flight_->pending; });
    return flight_->error;
}

}  // namespace dral_python
