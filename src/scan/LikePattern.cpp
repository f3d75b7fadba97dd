#include "LikePattern.h"

#include "NameText.h"

#include <QList>

namespace kartoma {

LikeTokens::LikeTokens(std::u32string_view chars) {
    const std::size_t n = chars.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = chars[i];
        if (c == U'*') {
            // Consecutive stars are one star.
            if (tokens.empty() || tokens.back().kind != Kind::Star) {
                tokens.push_back(Token{Kind::Star});
            }
        } else if (c == U'?') {
            tokens.push_back(Token{Kind::AnyChar});
        } else if (c == U'#') {
            tokens.push_back(Token{Kind::Digit});
        } else if (c == U'[') {
            const std::size_t end = chars.find(U']', i + 1);
            if (end == std::u32string_view::npos) {
                tokens.push_back(Token{Kind::Literal, c});
                continue;
            }
            std::size_t j = i + 1;
            if (j == end) {
                // "[]" stands for the empty text: it matches no character at all.
                i = end;
                continue;
            }
            Token token{Kind::Set};
            if (chars[j] == U'!') {
                token.negated = true;
                ++j;
            }
            token.firstRange = ranges.size();
            while (j < end) {
                const char32_t low = chars[j];
                if (j + 2 < end && chars[j + 1] == U'-') {
                    // A reversed range such as z-a contains nothing.
                    if (low <= chars[j + 2]) {
                        ranges.emplace_back(low, chars[j + 2]);
                    }
                    j += 3;
                } else {
                    ranges.emplace_back(low, low);
                    ++j;
                }
            }
            token.rangeCount = ranges.size() - token.firstRange;
            tokens.push_back(token);
            i = end;
        } else {
            tokens.push_back(Token{Kind::Literal, c});
        }
    }
}

bool LikeTokens::takes(const Token& token, char32_t c) const {
    switch (token.kind) {
    case Kind::Literal:
        return token.literal == c;
    case Kind::AnyChar:
        return true;
    case Kind::Digit:
        return c >= U'0' && c <= U'9';
    case Kind::Set: {
        bool inSet = false;
        for (std::size_t r = token.firstRange; r < token.firstRange + token.rangeCount; ++r) {
            if (c >= ranges[r].first && c <= ranges[r].second) {
                inSet = true;
                break;
            }
        }
        return inSet != token.negated;
    }
    case Kind::Star:
        break;
    }
    return false;
}

namespace {

std::u32string codePoints(const QString& text) {
    const QList<uint> chars = text.toUcs4();
    return std::u32string(chars.begin(), chars.end());
}

} // namespace

LikePattern::LikePattern(const QString& pattern) : like_(codePoints(upperCased(pattern))) {
    matchesEverything_ = like_.tokens.size() == 1 && like_.tokens.front().kind == LikeTokens::Kind::Star;
}

bool LikePattern::matchesUpperUtf8(std::string_view name) const {
    if (matchesEverything_) {
        return true;
    }
    // Every token but the star matches exactly one character, so the classic two-pointer match with
    // a single resume point (the last star seen) is exact and never backtracks further.
    const std::vector<LikeTokens::Token>& tokens = like_.tokens;
    const std::size_t tokenCount = tokens.size();
    std::size_t t = 0;
    std::size_t pos = 0;
    std::size_t starToken = tokenCount; // none yet
    std::size_t starPos = 0;
    while (pos < name.size()) {
        if (t < tokenCount && tokens[t].kind == LikeTokens::Kind::Star) {
            starToken = t++;
            starPos = pos;
            continue;
        }
        std::size_t next = pos;
        const char32_t c = decodeUtf8(name, next);
        if (t < tokenCount && like_.takes(tokens[t], c)) {
            ++t;
            pos = next;
            continue;
        }
        if (starToken == tokenCount) {
            return false;
        }
        // Let the last star swallow one more character and try again from there.
        t = starToken + 1;
        decodeUtf8(name, starPos);
        pos = starPos;
    }
    while (t < tokenCount && tokens[t].kind == LikeTokens::Kind::Star) {
        ++t;
    }
    return t == tokenCount;
}

bool LikePattern::matches(const QString& name) const {
    const QByteArray upper = upperCased(name).toUtf8();
    return matchesUpperUtf8(std::string_view(upper.constData(), static_cast<std::size_t>(upper.size())));
}

} // namespace kartoma
