#include "SearchPattern.h"

#include "Utf8.h"

#include <QChar>
#include <QList>

#include <algorithm>
#include <array>

namespace kartoma {

namespace {

constexpr char32_t kVoicedMark = 0x3099;     // combining; half-width ﾞ reads as it
constexpr char32_t kSemiVoicedMark = 0x309A; // combining; half-width ﾟ reads as it
constexpr std::size_t kMaxWords = (SearchPattern::kMaxLength + 63) / 64;

/// The folding tables, built once from Qt's Unicode data.
struct FoldTables {
    /// U+FF00..U+FFEF (the half-width and full-width forms) to their one-character compatibility
    /// form; 0 where there is none.
    std::array<char32_t, 0xF0> widthForms{};
    /// (katakana << 1 | semi-voiced) to the voiced katakana, sorted.
    std::vector<std::pair<char32_t, char32_t>> voiced;

    FoldTables() {
        for (char32_t c = 0xFF00; c <= 0xFFEF; ++c) {
            const QList<uint> form =
                QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KC).toUcs4();
            if (form.size() == 1 && form.front() != c) {
                widthForms[c - 0xFF00] = static_cast<char32_t>(form.front());
            }
        }
        for (char32_t kana = 0x30A1; kana <= 0x30FE; ++kana) {
            for (const char32_t mark : {kVoicedMark, kSemiVoicedMark}) {
                const char32_t pair[] = {kana, mark};
                const QList<uint> joined =
                    QString::fromUcs4(pair, 2).normalized(QString::NormalizationForm_C).toUcs4();
                if (joined.size() == 1) {
                    voiced.emplace_back(kana << 1 | (mark == kSemiVoicedMark ? 1 : 0),
                                        static_cast<char32_t>(joined.front()));
                }
            }
        }
    }
};

const FoldTables& foldTables() {
    static const FoldTables tables;
    return tables;
}

/// Appends the folded `c` to `out`, joining a voiced mark with the kana before it (at `start` or
/// later: what came before is another text).
void appendFolded(char32_t c, std::u32string& out, std::size_t start) {
    if (c < 0x80) {
        out += (c >= U'A' && c <= U'Z') ? c - U'A' + U'a' : c;
        return;
    }
    // What a CP932 catalogue holds in place of a character (its wave dash reads back as the full-width
    // tilde, its minus as the full-width hyphen-minus, ...) is that character: a name is found alike in
    // a CSV catalogue and in a workbook.
    switch (c) {
    case 0x301C: c = 0xFF5E; break; // WAVE DASH
    case 0x2212: c = 0xFF0D; break; // MINUS SIGN
    case 0x2016: c = 0x2225; break; // DOUBLE VERTICAL LINE
    case 0x2014: c = 0x2015; break; // EM DASH
    default: break;
    }
    const FoldTables& tables = foldTables();
    if (c >= 0xFF00 && c <= 0xFFEF && tables.widthForms[c - 0xFF00] != 0) {
        c = tables.widthForms[c - 0xFF00];
    } else if (c == 0x3000) {
        c = U' '; // the ideographic space is the full-width space
    }
    if ((c >= 0x3041 && c <= 0x3096) || c == 0x309D || c == 0x309E) {
        c += 0x60; // hiragana to katakana: the two blocks run in step
    }
    if ((c == kVoicedMark || c == kSemiVoicedMark) && out.size() > start) {
        const char32_t key = out.back() << 1 | (c == kSemiVoicedMark ? 1 : 0);
        const auto it = std::lower_bound(tables.voiced.begin(), tables.voiced.end(),
                                         std::pair<char32_t, char32_t>(key, 0));
        if (it != tables.voiced.end() && it->first == key) {
            out.back() = it->second;
            return;
        }
    }
    out += static_cast<char32_t>(QChar::toCaseFolded(c));
}

} // namespace

void appendSearchFold(std::string_view name, std::u32string& out) {
    const std::size_t start = out.size();
    std::size_t pos = 0;
    // ASCII runs, most of a name, are folded straight into place.
    out.resize(start + name.size()); // at most one character per byte
    std::size_t end = start;
    while (pos < name.size()) {
        const auto byte = static_cast<unsigned char>(name[pos]);
        if (byte >= 0x80) {
            break;
        }
        out[end++] = static_cast<char32_t>((byte >= 'A' && byte <= 'Z') ? byte - 'A' + 'a' : byte);
        ++pos;
    }
    out.resize(end);
    while (pos < name.size()) {
        appendFolded(decodeUtf8(name, pos), out, start);
    }
}

std::u32string foldForSearch(QStringView text) {
    std::u32string out;
    for (const uint c : text.toUcs4()) {
        appendFolded(static_cast<char32_t>(c), out, 0);
    }
    return out;
}

bool SearchPattern::tooLong(QStringView pattern) {
    if (static_cast<std::size_t>(pattern.size()) <= kMaxLength) {
        return false;
    }
    return static_cast<std::size_t>(pattern.toUcs4().size()) > kMaxLength;
}

SearchPattern::SearchPattern(const QString& pattern) : like_(std::u32string_view()) {
    if (tooLong(pattern)) {
        refused_ = true;
        return;
    }
    std::u32string folded = foldForSearch(pattern);
    if (folded.find_first_of(U"*?#[") == std::u32string::npos) {
        folded = U'*' + folded + U'*';
    }
    // A [ that opens no list is taken as it is, and "[]" as nothing: not the text a reader sees.
    bracket_ = folded.find(U'[') != std::u32string::npos;
    like_ = LikeTokens(folded);
    const std::vector<LikeTokens::Token>& tokens = like_.tokens;
    anchoredStart_ = tokens.empty() || tokens.front().kind != LikeTokens::Kind::Star;
    anchoredEnd_ = tokens.empty() || tokens.back().kind != LikeTokens::Kind::Star;
    std::size_t first = 0;
    for (std::size_t i = 0; i <= tokens.size(); ++i) {
        if (i == tokens.size() || tokens[i].kind == LikeTokens::Kind::Star) {
            if (i > first) {
                runs_.push_back(makeRun(first, i));
            }
            first = i + 1;
        }
    }
}

bool SearchPattern::isPlainText() const {
    if (refused_ || bracket_ || anchoredStart_ || anchoredEnd_ || runs_.size() > 1) {
        return false;
    }
    // A surrogate or a value beyond Unicode has no UTF-8 of its own to look for.
    const auto literal = [](const LikeTokens::Token& token) {
        return token.kind == LikeTokens::Kind::Literal && token.literal <= 0x10FFFF &&
               (token.literal < 0xD800 || token.literal > 0xDFFF);
    };
    return runs_.empty() || std::all_of(runs_[0].tokens.begin(), runs_[0].tokens.end(), literal);
}

SearchPattern::Run SearchPattern::makeRun(std::size_t first, std::size_t last) const {
    Run run;
    run.tokens.assign(like_.tokens.begin() + static_cast<std::ptrdiff_t>(first),
                      like_.tokens.begin() + static_cast<std::ptrdiff_t>(last));
    const std::size_t words = (run.tokens.size() + 63) / 64;
    run.words = words;
    run.asciiMasks.assign(128 * words, 0);
    run.anyMask.assign(words, 0);
    for (std::size_t i = 0; i < run.tokens.size(); ++i) {
        const LikeTokens::Token& token = run.tokens[i];
        const std::uint64_t bit = std::uint64_t{1} << (i % 64);
        for (char32_t c = 0; c < 128; ++c) {
            if (like_.takes(token, c)) {
                run.asciiMasks[c * words + i / 64] |= bit;
            }
        }
        if (token.kind == LikeTokens::Kind::AnyChar) {
            run.anyMask[i / 64] |= bit;
        } else if (token.kind == LikeTokens::Kind::Set) {
            run.sets.push_back(i);
        } else if (token.kind == LikeTokens::Kind::Literal && token.literal >= 0x80) {
            run.literals.push_back(token.literal);
        }
    }
    std::sort(run.literals.begin(), run.literals.end());
    run.literals.erase(std::unique(run.literals.begin(), run.literals.end()), run.literals.end());
    run.literalMasks.assign(run.literals.size() * words, 0);
    for (std::size_t i = 0; i < run.tokens.size(); ++i) {
        const LikeTokens::Token& token = run.tokens[i];
        if (token.kind == LikeTokens::Kind::Literal && token.literal >= 0x80) {
            const auto at = static_cast<std::size_t>(
                std::lower_bound(run.literals.begin(), run.literals.end(), token.literal) - run.literals.begin());
            run.literalMasks[at * words + i / 64] |= std::uint64_t{1} << (i % 64);
        }
    }
    return run;
}

void SearchPattern::maskOf(const Run& run, char32_t c, std::uint64_t* mask) const {
    if (c < 0x80) {
        std::copy_n(run.asciiMasks.begin() + static_cast<std::ptrdiff_t>(c * run.words), run.words, mask);
        return;
    }
    std::copy_n(run.anyMask.begin(), run.words, mask);
    const auto it = std::lower_bound(run.literals.begin(), run.literals.end(), c);
    if (it != run.literals.end() && *it == c) {
        const auto at = static_cast<std::size_t>(it - run.literals.begin());
        for (std::size_t w = 0; w < run.words; ++w) {
            mask[w] |= run.literalMasks[at * run.words + w];
        }
    }
    for (const std::size_t i : run.sets) {
        if (like_.takes(run.tokens[i], c)) {
            mask[i / 64] |= std::uint64_t{1} << (i % 64);
        }
    }
}

bool SearchPattern::matchesAt(const Run& run, std::u32string_view text, std::size_t at) const {
    for (std::size_t i = 0; i < run.tokens.size(); ++i) {
        if (!like_.takes(run.tokens[i], text[at + i])) {
            return false;
        }
    }
    return true;
}

std::size_t SearchPattern::find(const Run& run, std::u32string_view text, std::size_t from,
                                std::size_t limit) const {
    const std::size_t length = run.tokens.size();
    if (limit < from || limit - from < length) {
        return std::u32string_view::npos;
    }
    // Shift-And: bit i of `state` says that the run's first i + 1 elements match the text ending here.
    const std::size_t last = length - 1;
    const std::uint64_t found = std::uint64_t{1} << (last % 64);
    std::array<std::uint64_t, kMaxWords> mask{};
    if (run.words == 1) {
        std::uint64_t state = 0;
        for (std::size_t p = from; p < limit; ++p) {
            const char32_t c = text[p];
            if (c < 0x80) {
                mask[0] = run.asciiMasks[c];
            } else {
                maskOf(run, c, mask.data());
            }
            state = ((state << 1) | 1) & mask[0];
            if ((state & found) != 0) {
                return p + 1;
            }
        }
        return std::u32string_view::npos;
    }
    std::array<std::uint64_t, kMaxWords> state{};
    for (std::size_t p = from; p < limit; ++p) {
        const char32_t c = text[p];
        const std::uint64_t* bits = mask.data();
        if (c < 0x80) {
            bits = run.asciiMasks.data() + c * run.words;
        } else {
            maskOf(run, c, mask.data());
        }
        std::uint64_t carry = 1;
        for (std::size_t w = 0; w < run.words; ++w) {
            const std::uint64_t next = state[w] >> 63;
            state[w] = ((state[w] << 1) | carry) & bits[w];
            carry = next;
        }
        if ((state[last / 64] & found) != 0) {
            return p + 1;
        }
    }
    return std::u32string_view::npos;
}

bool SearchPattern::matchesFolded(std::u32string_view text) const {
    if (refused_) {
        return false;
    }
    const std::size_t n = text.size();
    if (runs_.empty()) {
        return !anchoredStart_ || n == 0; // only stars, or nothing
    }
    if (anchoredStart_ && anchoredEnd_ && runs_.size() == 1) {
        return n == runs_[0].tokens.size() && matchesAt(runs_[0], text, 0);
    }
    // Each run is taken at its leftmost place after the one before: that leaves the most room to the
    // runs after it, so no other choice can match where this one does not.
    std::size_t pos = 0;
    std::size_t first = 0;
    std::size_t last = runs_.size();
    if (anchoredStart_) {
        if (runs_[0].tokens.size() > n || !matchesAt(runs_[0], text, 0)) {
            return false;
        }
        pos = runs_[0].tokens.size();
        first = 1;
    }
    std::size_t limit = n;
    if (anchoredEnd_) {
        const std::size_t length = runs_.back().tokens.size();
        if (length > n || n - length < pos) {
            return false;
        }
        limit = n - length;
        --last;
    }
    for (std::size_t i = first; i < last; ++i) {
        pos = find(runs_[i], text, pos, limit);
        if (pos == std::u32string_view::npos) {
            return false;
        }
    }
    return !anchoredEnd_ || matchesAt(runs_.back(), text, limit);
}

bool SearchPattern::matches(QStringView name) const {
    return matchesFolded(foldForSearch(name));
}

} // namespace kartoma
