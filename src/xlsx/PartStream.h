#pragma once

#include "Deflater.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kartoma {

class PackageWriter;

/// One package part on its way into the package: pieces of it are deflated and written on a thread
/// of their own while the caller makes the next ones. At most a few pieces wait, so memory stays the
/// same however long the part grows. The writer belongs to the stream until finish() returns.
class PartStream {
public:
    /// `cancel` (may be null) is checked before each piece and while waiting.
    PartStream(PackageWriter& writer, const std::atomic<bool>* cancel);
    /// Stops the thread; what was not finished is dropped.
    ~PartStream();
    PartStream(const PartStream&) = delete;
    PartStream& operator=(const PartStream&) = delete;

    /// Hands `piece` over and leaves an empty buffer in its place. Waits while the queue is full.
    /// False when the stream failed or was cancelled (see error()).
    bool push(std::string& piece);
    /// Hands over `last`, ends the part and waits until all of it is written. False as push.
    bool finish(std::string& last);

    /// ECANCELED after a cancel, else the writer's errno value; 0 while all is well.
    int error() const;
    /// The CRC-32 and length of everything pushed.
    std::uint32_t crc() const { return crc_; }
    std::uint64_t size() const { return size_; }

    static constexpr std::size_t kPieceBytes = 512 * 1024;

private:
    void run();
    /// `piece` deflated into `out` (emptied first); false when the deflate failed.
    bool deflate(std::string_view piece, bool last, std::string& out) noexcept;
    bool cancelled() const { return cancel_ != nullptr && cancel_->load(std::memory_order_relaxed); }
    /// Waits on `ready` until `done` holds; false when cancelled or failed meanwhile.
    template <typename Done> bool waitFor(std::unique_lock<std::mutex>& lock, Done done);

    static constexpr std::size_t kQueued = 3;

    PackageWriter& writer_;
    const std::atomic<bool>* cancel_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    std::vector<std::string> spare_;
    bool ended_ = false;
    bool finished_ = false;
    bool stop_ = false;
    int error_ = 0;
    std::uint32_t crc_ = 0;
    std::uint64_t size_ = 0;
    Deflater deflater_;
    std::thread thread_;
};

} // namespace kartoma
