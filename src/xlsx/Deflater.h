#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct libdeflate_compressor;
struct z_stream_s;

namespace kartoma {

/// A raw deflate stream (as zip entries hold it) made by libdeflate, fed in pieces of any size.
///
/// libdeflate compresses whole buffers only, and far smaller than a streaming compressor of the same
/// speed: worksheet XML, with a cell reference on every cell, is where that shows. So the stream is
/// cut into chunks of kChunkBytes, each compressed whole; every chunk but the last is turned into
/// non-final blocks that end on a byte boundary, so that the chunks, one after the other, are one
/// stream. Memory stays at one chunk however long the stream grows.
class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    /// Deflates `input`, appending what it yields to `out`; `last` ends the stream. Nothing may follow
    /// a last piece.
    void deflate(std::string_view input, bool last, std::string& out);

    static constexpr std::size_t kChunkBytes = 1024 * 1024;

private:
    void deflateChunk(bool last, std::string& out);
    void continueAfter(std::size_t begin, std::string& out);

    libdeflate_compressor* compressor_;
    std::unique_ptr<z_stream_s> scan_;
    std::string chunk_;
    std::unique_ptr<char[]> scratch_;
};

/// The zip format's CRC-32 of `data`, continuing `crc` (0 to begin).
std::uint32_t crc32Of(std::uint32_t crc, std::string_view data);

/// The CRC-32 of two pieces one after the other, from each one's CRC and the second one's length.
std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);

/// `data` deflated whole.
std::string deflateWhole(std::string_view data);

} // namespace kartoma
