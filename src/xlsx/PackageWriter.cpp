#include "PackageWriter.h"

#include "Deflater.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace kartoma {

namespace {

constexpr std::size_t kBufferBytes = 1 << 20;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint16_t kDataDescriptor = 1u << 3;
constexpr std::uint16_t kUtf8Name = 1u << 11;
constexpr std::uint16_t kDeflated = 8;

void put16(std::string& out, std::uint64_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint64_t value) {
    put16(out, value & 0xFFFF);
    put16(out, (value >> 16) & 0xFFFF);
}

void put64(std::string& out, std::uint64_t value) {
    put32(out, value & kMax32);
    put32(out, value >> 32);
}

/// The zip format's local date and time of `when`.
void dosTime(std::time_t when, std::uint16_t& time, std::uint16_t& date) {
    std::tm t{};
    localtime_r(&when, &t);
    if (t.tm_year < 80) {
        time = 0;
        date = (1 << 5) | 1; // 1980-01-01, the earliest the format knows
        return;
    }
    time = static_cast<std::uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
    date = static_cast<std::uint16_t>(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
}

std::uint16_t nameFlags(const std::string& name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return kUtf8Name;
        }
    }
    return 0;
}

} // namespace

PackageWriter::PackageWriter(int fd) : fd_(fd) {
    buffer_.reserve(kBufferBytes);
}

bool PackageWriter::failed(int err) {
    if (error_ == 0) {
        error_ = err != 0 ? err : EIO;
    }
    return false;
}

bool PackageWriter::flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return failed(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

bool PackageWriter::write(const void* data, std::size_t size) {
    if (error_ != 0) {
        return false;
    }
    offset_ += size;
    if (buffer_.size() + size > kBufferBytes && !flush()) {
        return false;
    }
    if (size >= kBufferBytes) {
        buffer_.assign(static_cast<const char*>(data), size);
        return flush();
    }
    buffer_.append(static_cast<const char*>(data), size);
    return true;
}

bool PackageWriter::writeLocalHeader(const Entry& e) {
    // A streamed entry's sizes follow it; a copied one over 4 GiB names them in a Zip64 field.
    const bool zip64 = !(e.flags & kDataDescriptor) && (e.size >= kMax32 || e.compressedSize >= kMax32);
    std::string h;
    put32(h, 0x04034b50);
    put16(h, zip64 ? 45 : 20);
    put16(h, e.flags);
    put16(h, e.method);
    put16(h, e.time);
    put16(h, e.date);
    put32(h, e.crc);
    put32(h, zip64 ? kMax32 : e.compressedSize);
    put32(h, zip64 ? kMax32 : e.size);
    put16(h, e.name.size());
    put16(h, zip64 ? 20 : 0);
    h += e.name;
    if (zip64) {
        put16(h, 0x0001);
        put16(h, 16);
        put64(h, e.size);
        put64(h, e.compressedSize);
    }
    return write(h.data(), h.size());
}

bool PackageWriter::copyEntry(zip* source, std::uint64_t index, const std::atomic<bool>* cancel) {
    zip_stat_t st;
    if (zip_stat_index(source, index, ZIP_FL_ENC_RAW, &st) != 0 || st.name == nullptr ||
        (st.valid & (ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD)) !=
            (ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD)) {
        return failed(EINVAL);
    }
    Entry e;
    e.name = st.name;
    e.flags = nameFlags(e.name);
    e.method = static_cast<std::uint16_t>(st.comp_method);
    dosTime((st.valid & ZIP_STAT_MTIME) ? st.mtime : std::time(nullptr), e.time, e.date);
    e.crc = st.crc;
    e.compressedSize = st.comp_size;
    e.size = st.size;
    e.offset = offset_;
    zip_file_t* file = zip_fopen_index(source, index, ZIP_FL_COMPRESSED);
    if (file == nullptr) {
        return failed(EINVAL);
    }
    bool ok = writeLocalHeader(e);
    char piece[64 * 1024];
    std::uint64_t copied = 0;
    while (ok) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            ok = failed(ECANCELED);
            break;
        }
        const zip_int64_t n = zip_fread(file, piece, sizeof piece);
        if (n < 0) {
            ok = failed(EINVAL);
        } else if (n == 0) {
            break;
        } else {
            copied += static_cast<std::uint64_t>(n);
            ok = write(piece, static_cast<std::size_t>(n));
        }
    }
    zip_fclose(file);
    if (ok && copied != e.compressedSize) {
        return failed(EINVAL);
    }
    if (ok) {
        entries_.push_back(std::move(e));
    }
    return ok;
}

bool PackageWriter::addEntry(const std::string& name, std::string_view data) {
    const std::string deflated = deflateWhole(data);
    Entry e;
    e.name = name;
    e.flags = nameFlags(name);
    e.method = kDeflated;
    dosTime(std::time(nullptr), e.time, e.date);
    e.crc = crc32Of(0, data);
    e.compressedSize = deflated.size();
    e.size = data.size();
    e.offset = offset_;
    if (!writeLocalHeader(e) || !write(deflated.data(), deflated.size())) {
        return false;
    }
    entries_.push_back(std::move(e));
    return true;
}

bool PackageWriter::beginStreamedEntry(const std::string& name) {
    Entry e;
    e.name = name;
    e.flags = nameFlags(name) | kDataDescriptor;
    e.method = kDeflated;
    dosTime(std::time(nullptr), e.time, e.date);
    e.offset = offset_;
    if (!writeLocalHeader(e)) {
        return false;
    }
    entries_.push_back(std::move(e));
    return true;
}

bool PackageWriter::endStreamedEntry(std::uint32_t crc, std::uint64_t size) {
    Entry& e = entries_.back();
    e.crc = crc;
    e.size = size;
    const std::uint64_t headerBytes = 30 + e.name.size();
    e.compressedSize = offset_ - e.offset - headerBytes;
    std::string d;
    put32(d, 0x08074b50);
    put32(d, crc);
    if (e.size >= kMax32 || e.compressedSize >= kMax32) {
        put64(d, e.compressedSize);
        put64(d, e.size);
    } else {
        put32(d, e.compressedSize);
        put32(d, e.size);
    }
    return write(d.data(), d.size());
}

bool PackageWriter::overwrite(std::uint64_t at, std::string_view bytes) {
    if (error_ != 0 || !flush()) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return failed(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool PackageWriter::close(const std::vector<std::string>& order) {
    const auto rank = [&](const Entry& e) {
        return std::find(order.begin(), order.end(), e.name) - order.begin();
    };
    std::stable_sort(entries_.begin(), entries_.end(),
                     [&](const Entry& a, const Entry& b) { return rank(a) < rank(b); });
    const std::uint64_t directoryStart = offset_;
    for (const Entry& e : entries_) {
        std::string extra;
        if (e.size >= kMax32) {
            put64(extra, e.size);
        }
        if (e.compressedSize >= kMax32) {
            put64(extra, e.compressedSize);
        }
        if (e.offset >= kMax32) {
            put64(extra, e.offset);
        }
        std::string h;
        put32(h, 0x02014b50);
        put16(h, (3 << 8) | 45); // made on Unix, by a writer that knows Zip64
        put16(h, extra.empty() ? 20 : 45);
        put16(h, e.flags);
        put16(h, e.method);
        put16(h, e.time);
        put16(h, e.date);
        put32(h, e.crc);
        put32(h, std::min(e.compressedSize, kMax32));
        put32(h, std::min(e.size, kMax32));
        put16(h, e.name.size());
        put16(h, extra.empty() ? 0 : extra.size() + 4);
        put16(h, 0); // comment
        put16(h, 0); // disk
        put16(h, 0); // internal attributes
        put32(h, 0100644u << 16);
        put32(h, std::min(e.offset, kMax32));
        h += e.name;
        if (!extra.empty()) {
            put16(h, 0x0001);
            put16(h, extra.size());
            h += extra;
        }
        if (!write(h.data(), h.size())) {
            return false;
        }
    }
    const std::uint64_t directoryBytes = offset_ - directoryStart;
    const std::uint64_t count = entries_.size();
    std::string end;
    if (count >= 0xFFFF || directoryStart >= kMax32 || directoryBytes >= kMax32) {
        const std::uint64_t zip64End = offset_;
        put32(end, 0x06064b50);
        put64(end, 44);
        put16(end, (3 << 8) | 45);
        put16(end, 45);
        put32(end, 0);
        put32(end, 0);
        put64(end, count);
        put64(end, count);
        put64(end, directoryBytes);
        put64(end, directoryStart);
        put32(end, 0x07064b50);
        put32(end, 0);
        put64(end, zip64End);
        put32(end, 1);
    }
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, std::min<std::uint64_t>(count, 0xFFFF));
    put16(end, std::min<std::uint64_t>(count, 0xFFFF));
    put32(end, std::min(directoryBytes, kMax32));
    put32(end, std::min(directoryStart, kMax32));
    put16(end, 0);
    return write(end.data(), end.size()) && flush();
}

} // namespace kartoma
