#include "NameText.h"

#include "Utf8.h"

#include <QStringDecoder>

namespace kartoma {

namespace {

bool isUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
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

} // namespace kartoma
