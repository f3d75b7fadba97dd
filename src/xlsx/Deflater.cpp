#include "Deflater.h"

#include <libdeflate.h>
#include <zlib.h>

#include <new>
#include <stdexcept>

namespace kartoma {

namespace {

/// Lazy matching with a deep search: the level past which libdeflate's time grows several-fold for
/// a few per cent.
constexpr int kLevel = 7;
/// What the scan of a chunk inflates into and throws away.
constexpr std::size_t kScratchBytes = 64 * 1024;

} // namespace

Deflater::Deflater()
    : compressor_(libdeflate_alloc_compressor(kLevel)), scan_(std::make_unique<z_stream_s>()),
      scratch_(new char[kScratchBytes]) {
    if (compressor_ == nullptr || inflateInit2(scan_.get(), -MAX_WBITS) != Z_OK) {
        libdeflate_free_compressor(compressor_);
        throw std::bad_alloc();
    }
    chunk_.reserve(kChunkBytes);
}

Deflater::~Deflater() {
    inflateEnd(scan_.get());
    libdeflate_free_compressor(compressor_);
}

void Deflater::deflate(std::string_view input, bool last, std::string& out) {
    while (chunk_.size() + input.size() >= kChunkBytes) {
        const std::size_t taken = kChunkBytes - chunk_.size();
        chunk_.append(input.substr(0, taken));
        input.remove_prefix(taken);
        deflateChunk(last && input.empty(), out);
        if (last && input.empty()) {
            return;
        }
    }
    chunk_.append(input);
    if (last) {
        deflateChunk(true, out);
    }
}

void Deflater::deflateChunk(bool last, std::string& out) {
    const std::size_t begin = out.size();
    out.resize(begin + libdeflate_deflate_compress_bound(compressor_, chunk_.size()));
    const std::size_t size =
        libdeflate_deflate_compress(compressor_, chunk_.data(), chunk_.size(), out.data() + begin, out.size() - begin);
    if (size == 0) {
        throw std::logic_error("a chunk does not fit its bound");
    }
    out.resize(begin + size);
    chunk_.clear();
    if (!last) {
        continueAfter(begin, out);
    }
}

/// The chunk at `begin` in `out` is a whole stream: its last block says it is the last one. That
/// flag is cleared, and an empty stored block brings the stream to a byte boundary, where the next
/// chunk's blocks begin. Where the last block begins is found by inflating the chunk block by block.
void Deflater::continueAfter(std::size_t begin, std::string& out) {
    z_stream& s = *scan_;
    inflateReset(&s);
    auto* const first = reinterpret_cast<Bytef*>(out.data() + begin);
    s.next_in = first;
    s.avail_in = static_cast<uInt>(out.size() - begin);
    std::size_t headerByte = 0; // where the block being inflated begins
    unsigned headerBit = 1;
    int unused = -1; // the bits the last block leaves unused in its last byte
    int status = Z_OK;
    while (status == Z_OK) {
        s.next_out = reinterpret_cast<Bytef*>(scratch_.get());
        s.avail_out = static_cast<uInt>(kScratchBytes);
        status = inflate(&s, Z_BLOCK);
        // At the end of a block: the next block's header, if any, follows the bits used.
        if (status == Z_OK && (s.data_type & 128) != 0) {
            const int left = s.data_type & 7;
            if ((s.data_type & 64) != 0) {
                unused = left;
            } else {
                headerByte = static_cast<std::size_t>(s.next_in - first) - (left != 0 ? 1 : 0);
                headerBit = left != 0 ? 0x100u >> left : 1u;
            }
        }
    }
    if (status != Z_STREAM_END || s.avail_in != 0 || unused < 0) {
        throw std::logic_error("a compressed chunk does not read back");
    }
    out[begin + headerByte] = static_cast<char>(static_cast<unsigned char>(out[begin + headerByte]) & ~headerBit);
    // An empty stored block: its three header bits in the last byte's unused bits when they fit, else
    // in one more byte; then the byte boundary, length 0 and its complement.
    out.back() = static_cast<char>(static_cast<unsigned char>(out.back()) & (0xffu >> unused));
    if (unused < 3) {
        out += '\0';
    }
    out.append("\0\0\xff\xff", 4);
}

std::uint32_t crc32Of(std::uint32_t crc, std::string_view data) {
    return libdeflate_crc32(crc, data.data(), data.size());
}

std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
    return static_cast<std::uint32_t>(crc32_combine64(first, second, static_cast<z_off64_t>(secondLength)));
}

std::string deflateWhole(std::string_view data) {
    Deflater deflater;
    std::string out;
    deflater.deflate(data, true, out);
    return out;
}

} // namespace kartoma
