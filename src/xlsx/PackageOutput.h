#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace kartoma {

class OutputFile;
class PackageWriter;
class PartStream;

/// A zip package written to its destination under the output policy: the new version is made apart
/// and replaces the destination only at commit(), so a failure or a stop leaves no half-written
/// package and an existing file intact (whatever was written goes with the object).
///
/// Parts are copied from another package as they are stored, given whole, or one part streamed:
/// its head first as stored blocks (so that a piece of it can be mended in place at the end), then
/// its rest deflated on a thread of its own while the caller makes the next piece.
///
/// Every failure throws Failure: WorkbookSave with the system's reason (OutputLinkRefused for a
/// link planted in a shared folder), Cancelled once `stop` is set.
class PackageOutput {
public:
    /// Opens the new version of `destination`; `stop` (may be null) must outlive the object.
    PackageOutput(const QString& destination, const std::atomic<bool>* stop);
    ~PackageOutput();
    PackageOutput(const PackageOutput&) = delete;
    PackageOutput& operator=(const PackageOutput&) = delete;

    const QString& destination() const { return destination_; }

    /// Copies entry `index` of `source` as it is stored there.
    void copyPart(zip* source, std::uint64_t index);
    /// Adds the part `name` holding `bytes`.
    void addPart(const std::string& name, std::string_view bytes);

    /// Starts the streamed part `name` with `head`; the `mendable` bytes at `mendAt` in it can be
    /// replaced by endStreamedPart.
    void beginStreamedPart(const std::string& name, std::string head, std::size_t mendAt);
    /// Hands over a piece of the streamed part; `piece` is left empty, its capacity kept.
    void streamPiece(std::string& piece);
    /// Ends the streamed part with `last`; the head's bytes at `mendAt` become `mended` (no longer
    /// than what they replace was padded to).
    void endStreamedPart(std::string& last, std::string_view mended);

    /// Writes the directory (parts in the order of `order`, the others after them) and replaces the
    /// destination with the finished package.
    void commit(const std::vector<std::string>& order);

private:
    [[noreturn]] void failed(int error);
    void checkStop() const;

    QString destination_;
    const std::atomic<bool>* stop_;
    std::unique_ptr<OutputFile> output_;
    std::unique_ptr<PackageWriter> writer_;
    std::unique_ptr<PartStream> stream_;
    std::string head_;
    std::size_t mendAt_ = 0;
    std::uint64_t mendOffset_ = 0;
};

} // namespace kartoma
