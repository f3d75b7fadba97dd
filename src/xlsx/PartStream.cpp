#include "PartStream.h"

#include "PackageWriter.h"

#include <cerrno>
#include <chrono>
#include <exception>

namespace kartoma {

namespace {
/// How long a wait goes before it looks at the cancel flag again.
constexpr auto kCancelPoll = std::chrono::milliseconds(2);
} // namespace

PartStream::PartStream(PackageWriter& writer, const std::atomic<bool>* cancel)
    : writer_(writer), cancel_(cancel), thread_([this] { run(); }) {}

PartStream::~PartStream() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

int PartStream::error() const {
    const std::lock_guard lock(mutex_);
    return error_;
}

template <typename Done> bool PartStream::waitFor(std::unique_lock<std::mutex>& lock, Done done) {
    while (!done()) {
        if (error_ != 0) {
            return false;
        }
        if (cancelled()) {
            error_ = ECANCELED;
            changed_.notify_all();
            return false;
        }
        changed_.wait_for(lock, kCancelPoll);
    }
    return error_ == 0;
}

bool PartStream::push(std::string& piece) {
    std::unique_lock lock(mutex_);
    if (!waitFor(lock, [&] { return queue_.size() < kQueued; })) {
        return false;
    }
    queue_.push_back(std::move(piece));
    if (!spare_.empty()) {
        piece = std::move(spare_.back());
        spare_.pop_back();
    } else {
        piece = std::string();
        piece.reserve(kPieceBytes + 64 * 1024);
    }
    piece.clear();
    changed_.notify_all();
    return true;
}

bool PartStream::finish(std::string& last) {
    if (!push(last)) {
        return false;
    }
    std::unique_lock lock(mutex_);
    ended_ = true;
    changed_.notify_all();
    return waitFor(lock, [&] { return finished_; });
}

bool PartStream::deflate(std::string_view piece, bool last, std::string& out) noexcept {
    // Nothing thrown may leave the thread: a deflate that fails is the part's failure.
    try {
        out.clear();
        deflater_.deflate(piece, last, out);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void PartStream::run() {
    std::string out;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || error_ != 0 || !queue_.empty() || ended_; });
        if (stop_ || error_ != 0) {
            return;
        }
        if (queue_.empty()) {
            // Ended, and everything before the end was written.
            const bool deflated = deflate({}, true, out);
            lock.unlock();
            const bool ok = deflated && writer_.write(out.data(), out.size());
            lock.lock();
            if (!ok) {
                error_ = deflated ? writer_.error() : EIO;
            }
            finished_ = true;
            changed_.notify_all();
            return;
        }
        if (cancelled()) {
            error_ = ECANCELED;
            changed_.notify_all();
            return;
        }
        std::string piece = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        lock.unlock();
        crc_ = crc32Of(crc_, piece);
        size_ += piece.size();
        const bool deflated = deflate(piece, false, out);
        const bool ok = deflated && writer_.write(out.data(), out.size());
        lock.lock();
        if (!ok) {
            error_ = deflated ? writer_.error() : EIO;
            changed_.notify_all();
            return;
        }
        spare_.push_back(std::move(piece));
    }
}

} // namespace kartoma
