#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace kartoma {

/// Writes a zip package front to back onto a file descriptor, never seeking back but to mend a few
/// bytes already written (`overwrite`): parts copied raw from another package, parts given whole and
/// deflated here, and one part streamed (deflated elsewhere, its sizes and checksum in a data
/// descriptor after it). Zip64 records are added where sizes, offsets or the count need them.
///
/// Every method returns false on failure, with `error()` the errno value (EINVAL for a package that
/// cannot be copied, ECANCELED when `cancel` was set during a copy); the package is then unusable.
class PackageWriter {
public:
    /// Writes to `fd`, from its current offset taken as 0; the descriptor stays the caller's.
    explicit PackageWriter(int fd);

    /// Copies entry `index` of `source` as it is stored there (its compressed bytes, method, checksum
    /// and time). Checks `cancel` between pieces.
    bool copyEntry(zip* source, std::uint64_t index, const std::atomic<bool>* cancel);
    /// Adds `name` holding `data`, deflated.
    bool addEntry(const std::string& name, std::string_view data);

    /// Starts the streamed entry `name` (deflated): its bytes follow through `write`.
    bool beginStreamedEntry(const std::string& name);
    /// Appends bytes of the streamed entry, or of nothing in particular.
    bool write(const void* data, std::size_t size);
    /// Ends the streamed entry with the checksum and sizes of what it holds.
    bool endStreamedEntry(std::uint32_t crc, std::uint64_t size);

    /// Where the next byte written goes.
    std::uint64_t offset() const { return offset_; }
    /// Replaces bytes already written at `at` (after a flush of what is buffered).
    bool overwrite(std::uint64_t at, std::string_view bytes);

    /// Writes the central directory and flushes. Its entries come in the order of `order` (names),
    /// those it does not name after them in the order they were added.
    bool close(const std::vector<std::string>& order = {});

    int error() const { return error_; }

private:
    struct Entry {
        std::string name;
        std::uint16_t flags = 0, method = 0, time = 0, date = 0;
        std::uint32_t crc = 0;
        std::uint64_t compressedSize = 0, size = 0, offset = 0;
    };

    bool flush();
    bool failed(int err);
    bool writeLocalHeader(const Entry& entry);

    int fd_;
    int error_ = 0;
    std::uint64_t offset_ = 0;
    std::string buffer_;
    std::vector<Entry> entries_;
};

} // namespace kartoma
