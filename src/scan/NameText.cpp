#include "NameText.h"

#include "NativePath.h"
#include "Utf8.h"

#include <QList>
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

QString upperCased(QStringView text) {
    QList<uint> chars = text.toUcs4();
    for (uint& c : chars) {
        c = QChar::toUpper(c);
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), chars.size());
}

namespace {

void appendUpperText(std::string_view name, std::string& out) {
    const QByteArray upper = upperCased(nameText(name)).toUtf8();
    out.append(upper.constData(), static_cast<std::size_t>(upper.size()));
}

} // namespace

void appendUpperUtf8(std::string_view name, std::string& out) {
    // Valid UTF-8 is upper-cased where it lies, one code point at a time; the few names that are not
    // (CP932, stray bytes) take the way through their text, which knows how to read them, and so do
    // names that begin with a byte order mark, which that way leaves out.
    const std::size_t start = out.size();
    if (name.starts_with("\xEF\xBB\xBF")) {
        appendUpperText(name, out);
        return;
    }
    out.reserve(start + name.size());
    for (std::size_t pos = 0; pos < name.size();) {
        const unsigned char lead = static_cast<unsigned char>(name[pos]);
        if (lead < 0x80) {
            out += (lead >= 'a' && lead <= 'z') ? static_cast<char>(lead - 'a' + 'A') : static_cast<char>(lead);
            ++pos;
            continue;
        }
        const std::size_t at = pos;
        const char32_t c = decodeUtf8(name, pos);
        if (c == 0xFFFD && pos == at + 1) {
            out.resize(start);
            appendUpperText(name, out);
            return;
        }
        encodeUtf8(QChar::toUpper(c), out);
    }
}

QString joinPath(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/'))) {
        return folder + name;
    }
    return folder + QLatin1Char('/') + name;
}

std::string joinPathBytes(const std::string& folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path.append(name);
    return path;
}

} // namespace kartoma
