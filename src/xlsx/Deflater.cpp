#include "Deflater.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

namespace kartoma {

namespace {
constexpr std::uint32_t kLevel = 1;
constexpr std::size_t kOutputPiece = 256 * 1024;
} // namespace

Deflater::Deflater()
    : stream_(std::make_unique<isal_zstream>()), levelBuffer_(new std::uint8_t[ISAL_DEF_LVL1_DEFAULT]) {
    isal_deflate_init(stream_.get());
    stream_->level = kLevel;
    stream_->level_buf = levelBuffer_.get();
    stream_->level_buf_size = ISAL_DEF_LVL1_DEFAULT;
    stream_->gzip_flag = IGZIP_DEFLATE;
    stream_->flush = NO_FLUSH;
}

Deflater::~Deflater() = default;

void Deflater::deflate(std::string_view input, bool last, std::string& out) {
    isal_zstream& s = *stream_;
    s.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(input.data()));
    s.avail_in = static_cast<std::uint32_t>(input.size());
    s.end_of_stream = last ? 1 : 0;
    do {
        const std::size_t before = out.size();
        out.resize(before + kOutputPiece);
        s.next_out = reinterpret_cast<std::uint8_t*>(out.data() + before);
        s.avail_out = static_cast<std::uint32_t>(kOutputPiece);
        isal_deflate(&s);
        out.resize(before + kOutputPiece - s.avail_out);
        // More output room is needed while input waits, or, at the end, until the stream is closed.
    } while (s.avail_in > 0 || s.avail_out == 0 || (last && s.internal_state.state != ZSTATE_END));
}

std::uint32_t crc32Of(std::uint32_t crc, std::string_view data) {
    return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(data.data()), data.size());
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
