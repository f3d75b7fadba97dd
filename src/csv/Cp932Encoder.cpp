#include "Cp932Encoder.h"

#include "Utf8.h"

#include <QStringDecoder>

#include <array>
#include <utility>

namespace kartoma {

namespace {

constexpr std::uint16_t kNone = 0xFFFF;

/// Appends the bytes of a table entry, or "?" (counted in `replaced`) for none.
void put(std::uint16_t code, std::string& out, std::uint64_t& replaced) {
    if (code == kNone) {
        out += '?';
        ++replaced;
    } else if (code < 0x100) {
        out += static_cast<char>(code);
    } else {
        out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
    }
}

} // namespace

const Cp932Encoder& Cp932Encoder::instance() {
    static const Cp932Encoder encoder;
    return encoder;
}

Cp932Encoder::Cp932Encoder() : table_(0x10000, kNone) {
    QStringDecoder decoder("windows-31j", QStringDecoder::Flag::Stateless);
    const auto learn = [&](const char* bytes, int length, std::uint16_t code) {
        const QString text = decoder.decode(QByteArrayView(bytes, length));
        if (text.size() == 1 && text.front() != QChar::ReplacementCharacter &&
            table_[text.front().unicode()] == kNone) {
            table_[text.front().unicode()] = code;
        }
    };
    // ASCII is itself. (The system's converter swaps three control characters, 0x1A, 0x1C and 0x7F,
    // as IBM's tables do; Windows does not.)
    for (int b = 0x00; b < 0x80; ++b) {
        table_[static_cast<std::size_t>(b)] = static_cast<std::uint16_t>(b);
    }
    for (int b = 0xA1; b <= 0xDF; ++b) {
        const char byte = static_cast<char>(b);
        learn(&byte, 1, static_cast<std::uint16_t>(b));
    }
    // Lead bytes in the order in which Windows prefers them for characters that have several forms.
    constexpr std::array<std::pair<int, int>, 8> leadRanges{{{0x81, 0x84},
                                                             {0x88, 0x9F},
                                                             {0xE0, 0xEA},
                                                             {0x87, 0x87},
                                                             {0xFA, 0xFC},
                                                             {0xED, 0xEE},
                                                             {0xF0, 0xF9},
                                                             {0x85, 0x86}}};
    for (const auto& [first, last] : leadRanges) {
        for (int lead = first; lead <= last; ++lead) {
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F) {
                    continue;
                }
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                learn(pair, 2, static_cast<std::uint16_t>(lead << 8 | trail));
            }
        }
    }
    constexpr std::array<std::pair<char16_t, std::uint16_t>, 7> variants{{{u'\u301C', 0x8160},
                                                                          {u'\u2016', 0x8161},
                                                                          {u'\u2212', 0x817C},
                                                                          {u'\u00A2', 0x8191},
                                                                          {u'\u00A3', 0x8192},
                                                                          {u'\u00AC', 0x81CA},
                                                                          {u'\u2014', 0x815C}}};
    for (const auto& [c, code] : variants) {
        table_[c] = code;
    }
}

int Cp932Encoder::codeOf(char32_t c) const {
    if (c > 0xFFFF) {
        return -1;
    }
    const std::uint16_t code = table_[c];
    return code == kNone ? -1 : code;
}

bool Cp932Encoder::appendUtf8(std::string_view utf8, std::string& out, std::uint64_t& replaced,
                              bool doubleQuotes) const {
    const std::size_t start = out.size();
    std::uint64_t lacking = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t at = pos;
        const char32_t c = decodeUtf8(utf8, pos);
        if (c == 0xFFFD && pos == at + 1) {
            // A replacement character that takes one byte stands for a byte that is not UTF-8.
            out.resize(start);
            return false;
        }
        if (c == U'"' && doubleQuotes) {
            out += "\"\"";
            continue;
        }
        // Nothing beyond the Basic Multilingual Plane has a CP932 form: one "?" per character.
        put(c > 0xFFFF ? kNone : table_[c], out, lacking);
    }
    replaced += lacking;
    return true;
}

void Cp932Encoder::append(QStringView text, std::string& out, std::uint64_t& replaced,
                          bool doubleQuotes) const {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'"' && doubleQuotes) {
            out += "\"\"";
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            // Nothing beyond the Basic Multilingual Plane has a CP932 form: one "?" per character.
            ++i;
            out += '?';
            ++replaced;
            continue;
        }
        put(table_[c], out, replaced);
    }
}

} // namespace kartoma
