#include "PackageOutput.h"

#include "Deflater.h"
#include "Failure.h"
#include "NativePath.h"
#include "OutputFile.h"
#include "PackageWriter.h"
#include "PartStream.h"
#include "SystemError.h"

#include <algorithm>
#include <cerrno>

namespace kartoma {

PackageOutput::PackageOutput(const QString& destination, const std::atomic<bool>* stop)
    : destination_(destination), stop_(stop), output_(std::make_unique<OutputFile>()) {
    if (const int err = output_->open(toNativePath(destination_)); err != 0) {
        throw outputFailure(err, FailureCode::WorkbookSave, destination_);
    }
    // The descriptor stays the output file's: it closes it, and discards what was written unless
    // the package was committed.
    writer_ = std::make_unique<PackageWriter>(output_->descriptor());
}

PackageOutput::~PackageOutput() {
    stream_.reset();
    writer_.reset();
}

void PackageOutput::failed(int error) {
    if (error == ECANCELED) {
        throw Failure(FailureCode::Cancelled, QString());
    }
    throw Failure(FailureCode::WorkbookSave, destination_, systemErrorText(error));
}

void PackageOutput::checkStop() const {
    if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) {
        throw Failure(FailureCode::Cancelled, QString());
    }
}

void PackageOutput::copyPart(zip* source, std::uint64_t index) {
    if (!writer_->copyEntry(source, index, stop_)) {
        failed(writer_->error());
    }
}

void PackageOutput::addPart(const std::string& name, std::string_view bytes) {
    if (!writer_->addEntry(name, bytes)) {
        failed(writer_->error());
    }
}

void PackageOutput::beginStreamedPart(const std::string& name, std::string head, std::size_t mendAt) {
    head_ = std::move(head);
    mendAt_ = mendAt;
    if (!writer_->beginStreamedEntry(name)) {
        failed(writer_->error());
    }
    // The head goes first as stored blocks, the mendable bytes at the start of a block of their own,
    // so that they can be replaced in place once the rest is known.
    const auto storeBlocks = [&](std::string_view bytes) {
        do {
            const std::size_t n = std::min<std::size_t>(bytes.size(), 0xFFFF);
            const unsigned char header[5] = {0, static_cast<unsigned char>(n & 0xFF),
                                             static_cast<unsigned char>(n >> 8),
                                             static_cast<unsigned char>(~n & 0xFF),
                                             static_cast<unsigned char>((~n >> 8) & 0xFF)};
            if (!writer_->write(header, sizeof header) || !writer_->write(bytes.data(), n)) {
                failed(writer_->error());
            }
            bytes.remove_prefix(n);
        } while (!bytes.empty());
    };
    const std::string_view all(head_);
    storeBlocks(all.substr(0, mendAt_));
    mendOffset_ = writer_->offset() + 5;
    storeBlocks(all.substr(mendAt_));
    stream_ = std::make_unique<PartStream>(*writer_, stop_);
}

void PackageOutput::streamPiece(std::string& piece) {
    if (!stream_->push(piece)) {
        failed(stream_->error());
    }
    checkStop();
}

void PackageOutput::endStreamedPart(std::string& last, std::string_view mended) {
    if (!stream_->finish(last)) {
        failed(stream_->error());
    }
    head_.replace(mendAt_, mended.size(), mended);
    const std::uint32_t crc = crc32Combine(crc32Of(0, head_), stream_->crc(), stream_->size());
    const std::uint64_t size = head_.size() + stream_->size();
    stream_.reset();
    if (!writer_->endStreamedEntry(crc, size) || !writer_->overwrite(mendOffset_, mended)) {
        failed(writer_->error());
    }
}

void PackageOutput::commit(const std::vector<std::string>& order) {
    checkStop();
    if (!writer_->close(order)) {
        failed(writer_->error());
    }
    writer_.reset();
    checkStop();
    if (const int err = output_->commit(); err != 0) {
        throw outputFailure(err, FailureCode::WorkbookSave, destination_);
    }
}

} // namespace kartoma
