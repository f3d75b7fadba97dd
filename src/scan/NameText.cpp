#include "NameText.h"

#include "NativePath.h"
#include "Utf8.h"

#include <QStringDecoder>

namespace kartoma {

namespace {

bool isUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos; // most names are ASCII, and ASCII is UTF-8
            continue;
        }
        const std::size_t at = pos;
        // A replacement character that takes one byte stands for a byte that is not UTF-8.
        if (decodeUtf8(bytes, pos) == 0xFFFD && pos == at + 1) {
            return false;
        }
    }
    return true;
}

bool isCp932(std::string_view bytes, QString* text) {
    QStringDecoder decoder("windows-31j", QStringDecoder::Flag::Stateless);
    const QString decoded =
        decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError()) {
        return false;
    }
    if (text != nullptr) {
        *text = decoded;
    }
    return true;
}

} // namespace

NameEncoding nameEncoding(std::string_view bytes) {
    if (isUtf8(bytes)) {
        return NameEncoding::Utf8;
    }
    return isCp932(bytes, nullptr) ? NameEncoding::Cp932 : NameEncoding::Neither;
}

QString nameText(std::string_view bytes) {
    QString text;
    if (!isUtf8(bytes) && isCp932(bytes, &text)) {
        return text;
    }
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString cp932Text(std::string_view bytes) {
    QString text;
    if (isCp932(bytes, &text)) {
        return text;
    }
    // Character by character: the decoder would put U+001A for a byte it cannot map, drop a lead
    // byte at the end, or take the byte after an unmapped lead byte with it.
    text.clear();
    for (std::size_t at = 0; at < bytes.size();) {
        QString one;
        if (at + 1 < bytes.size() && isCp932(bytes.substr(at, 2), &one) && one.size() == 1) {
            at += 2;
        } else if (isCp932(bytes.substr(at, 1), &one) && one.size() == 1) {
            at += 1;
        } else {
            one = QChar(QChar::ReplacementCharacter);
            at += 1;
        }
        text += one;
    }
    return text;
}

namespace {

/// Calls `each` with every name of the path `bytes` (the empty ones around a "/" included) and with
/// whether a "/" follows it.
template <typename Each> void forEachName(std::string_view bytes, Each&& each) {
    for (std::size_t begin = 0;;) {
        const std::size_t slash = bytes.find('/', begin);
        if (slash == std::string_view::npos) {
            each(bytes.substr(begin), false);
            return;
        }
        each(bytes.substr(begin, slash - begin), true);
        begin = slash + 1;
    }
}

} // namespace

QString pathText(std::string_view bytes) {
    if (isUtf8(bytes)) {
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    QString text;
    forEachName(bytes, [&text](std::string_view name, bool slash) {
        text += nameText(name);
        if (slash) {
            text += QLatin1Char('/');
        }
    });
    return text;
}

QString readablePath(const QString& path) {
    return hasEscapedBytes(path) ? pathText(toNativePath(path)) : path;
}

std::uint64_t undecodableNamesIn(std::string_view bytes) {
    std::uint64_t count = 0;
    if (!isUtf8(bytes)) {
        forEachName(bytes, [&count](std::string_view name, bool) {
            count += nameEncoding(name) == NameEncoding::Neither ? 1 : 0;
        });
    }
    return count;
}

} // namespace kartoma
