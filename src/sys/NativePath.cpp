#include "NativePath.h"

#include "Utf8.h"

namespace kartoma {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // U+DC80..U+DCFF stand for the bytes 0x80..0xFF

bool isEscape(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

} // namespace

QString fromNativePath(std::string_view bytes) {
    if (isAscii(bytes)) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    QString path;
    path.reserve(static_cast<qsizetype>(bytes.size()));
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t at = pos;
        const char32_t c = decodeUtf8(bytes, pos);
        if (c == 0xFFFD && pos == at + 1) {
            // The decoder's one-byte replacement: a byte that is not UTF-8, kept as its escape.
            path += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[at])));
        } else if (c >= 0x10000) {
            path += QChar(QChar::highSurrogate(c));
            path += QChar(QChar::lowSurrogate(c));
        } else {
            path += QChar(static_cast<char16_t>(c)); // the decoder gives no surrogate
        }
    }
    return path;
}

std::string toNativePath(QStringView path) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(path.size()));
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < path.size() &&
            QChar::isLowSurrogate(path[i + 1].unicode())) {
            encodeUtf8(QChar::surrogateToUcs4(c, path[i + 1].unicode()), bytes);
            ++i;
        } else if (isEscape(c)) {
            bytes += static_cast<char>(c - kEscapeBase);
        } else if (QChar::isSurrogate(c)) {
            encodeUtf8(0xFFFD, bytes);
        } else {
            encodeUtf8(c, bytes);
        }
    }
    return bytes;
}

bool hasEscapedBytes(QStringView path) {
    for (const QChar c : path) {
        if (isEscape(c.unicode())) {
            return true;
        }
    }
    return false;
}

} // namespace kartoma
